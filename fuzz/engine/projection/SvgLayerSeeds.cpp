// Seeds for the SVG layer fuzzer: layers as the reader hands them out, the
// hostile documents the renderer refuses, and smaller kin of the layers that
// exhaust its memory or time (the full ones exceed any fuzzer's limits by
// design; the renderer's budget and time limit stop them, see the tests).
#include "SvgLayerInput.h"

#include "writers/HostileSvg.h"
#include "writers/SvgxWriter.h"

#include <fstream>
#include <string>

using namespace testwriters;

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const std::string dir = argv[1];
    auto seed = [&](const std::string& name, uint8_t options, const std::string& document) {
        std::ofstream(dir + "/" + name, std::ios::binary) << SvgLayerInput::make(options, document);
    };
    using In = SvgLayerInput;
    const std::string square = layerGroup(0, {squarePathData(-5, -5, 10)});
    const std::string holes = layerGroup(1, {squarePathData(-10, -8, 20) + " " + squarePathData(-2, -2, 4),
                                             polygonPathData(6, 0, 3, 9)});
    seed("square", In::WrapAsLayer, square);
    seed("holes-grown", In::WrapAsLayer | In::Grow, holes);
    seed("holes-shrunk-subpixel", In::WrapAsLayer | In::Shrink | In::SubPixel | In::Mirror, holes);
    seed("colour", 0, svgDocument("<path d=\"M -6 -4 L 6 -4 L 0 5 Z\" fill=\"#c04020\" stroke=\"rgb(0,90,0)\"/>"));

    const std::string white = "<path d=\"M -8 -4 L 8 -4 L 8 4 Z\" fill=\"white\"/>";
    seed("fan-out-2-40", In::WrapAsLayer, useFanOut(40, white));
    seed("fan-out-small", 0, useFanOut(6, white));
    seed("use-cycle", 0, svgDocument("<g id=\"a\"><use xlink:href=\"#b\"/></g><g id=\"b\"><use xlink:href=\"#a\"/></g>"));
    seed("use-chain", 0, useChain(300));
    seed("image-file", 0, svgDocument(imageElement("/etc/hostname")));
    seed("image-fifo", 0, svgDocument(imageElement("/tmp/talviks-fuzz-fifo")));
    seed("image-embedded", 0, svgDocument(imageElement("data:image/bmp;base64," + base64(bmpFile(4, 4, 200)))));
    seed("image-huge", 0, svgDocument(imageElement("data:image/bmp;base64," + base64(bmpFile(60000, 60000, 0, false)))));
    seed("image-svg", 0, svgDocument(imageElement("data:image/svg+xml;base64," + base64(useFanOut(30, white)))));
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "<g>";
    seed("deep", 0, svgDocument(deep));

    seed("empty-groups", In::WrapAsLayer, emptyGroupsLayer(0, 64 * 1024));
    seed("small-paths", In::WrapAsLayer | In::Grow, smallPathsLayer(0, 3000));
    seed("gradient-circles", In::WrapAsLayer, gradientCirclesLayer(0, 200, 60));
    return 0;
}
