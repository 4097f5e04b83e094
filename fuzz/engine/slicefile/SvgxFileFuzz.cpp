// SvgParser over whole files: the print's walk, single layers, and the
// contour offset of what the walk hands out.
#include "MemoryFile.h"

#include "engine/slicefile/SvgOffset.h"
#include "engine/slicefile/SvgParser.h"

#include <cstdio>

namespace {

constexpr size_t kMaxOffsetLayer = 256 * 1024;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!freopen("/dev/null", "w", stdout))
        return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static MemoryFile file;
    const std::string& path = file.write(data, size);

    SvgParser parser(path, 4048);
    if (parser.open() != 0)
        return 0;
    for (int i = 0; i < 16; ++i) {
        const std::string layer = parser.nextLayer();
        if (layer.empty() || layer == "00000005")
            break;
        // The printer offsets a layer in its renderer, within a memory
        // budget; a layer of megabytes asks more of the tree than a fuzzer has.
        if (i == 0 && layer.size() <= kMaxOffsetLayer) {
            QByteArray svg = QByteArray::fromStdString(layer);
            offsetSvg(svg, 0.05f);
        }
    }
    parser.getlayer(0);
    parser.getlayer(1);
    if (parser.sliceParams().layerCount > 0)
        parser.getlayer(parser.sliceParams().layerCount - 1);
    return 0;
}
