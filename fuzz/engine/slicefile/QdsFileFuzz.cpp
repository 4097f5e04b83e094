// PrintFileParser over whole files, the way the pages and a print use it.
#include "MemoryFile.h"

#include "engine/slicefile/LayerDecoder.h"
#include "engine/slicefile/PrintFileParser.h"

#include <cstdio>
#include <vector>

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

    PrintFileParser parser;
    if (parser.checkFile(path, true) != 0)
        return 0;
    parser.checkVersion();
    parser.checkResolution(64, 32);
    QByteArray image;
    parser.getSmallThumbnail(image);
    parser.getNormalThumbnail(image);

    const uint64_t pixels = uint64_t{parser.generalData().xRes} * parser.generalData().yRes;
    std::vector<uint8_t> frame(pixels <= (1u << 16) ? pixels : 0);
    std::vector<uint8_t> scratch;
    for (int i = 0; i < 16; ++i) {
        const int layer = parser.getNextPrintParam();
        const std::string& block = parser.getLayerData(static_cast<unsigned>(layer));
        if (!frame.empty())
            decodeLayerData(frame.data(), static_cast<int>(frame.size()), scratch, block,
                            static_cast<unsigned>(block.size()));
    }
    return 0;
}
