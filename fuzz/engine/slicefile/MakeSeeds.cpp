// Writes the seeds of the engine's fuzz targets into <dir>/<target>/.
#include "writers/HostileSvg.h"
#include "writers/LayerImages.h"
#include "writers/QdsWriter.h"
#include "writers/SvgxWriter.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace testwriters;

namespace {

std::string g_dir;

void seed(const std::string& target, const std::string& name, const std::string& bytes)
{
    const std::string folder = g_dir + "/" + target;
    mkdir(g_dir.c_str(), 0755);
    mkdir(folder.c_str(), 0755);
    std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
}

std::string decodeSeed(int mode, int pixels, const std::string& body)
{
    std::string bytes = {static_cast<char>(mode), static_cast<char>(pixels & 0xff), static_cast<char>(pixels >> 8), 0};
    return bytes + body;
}

void decodeSeeds()
{
    const auto shapes = shapesLayer(48, 24, 1, 4);
    const auto noise = noiseLayer(16, 8, 2);
    seed("decode_layer", "shapes-block", decodeSeed(0, 48 * 24, makeRasterBlock(shapes)));
    seed("decode_layer", "noise-block", decodeSeed(0, 16 * 8, makeRasterBlock(noise)));
    seed("decode_layer", "shapes-pairs", decodeSeed(0x61, 48 * 24, encodeRlePairs(shapes.data(), shapes.size())));
    seed("decode_layer", "noise-pairs", decodeSeed(0x01, 16 * 8, encodeRlePairs(noise.data(), noise.size())));
    seed("decode_layer", "long-run", decodeSeed(0x91, 256, std::string("\xc8\xff", 2)));
}

QdsFileSpec smallModel(unsigned layers)
{
    QdsFileSpec spec;
    spec.general.xRes = 64;
    spec.general.yRes = 32;
    spec.smallThumbnail = "\x89PNG small";
    spec.normalThumbnail = "\x89PNG normal";
    for (unsigned i = 0; i < layers; ++i)
        spec.layers.push_back({makeRasterBlock(shapesLayer(64, 32, i, 3)), std::nullopt});
    return spec;
}

void qdsSeeds()
{
    QdsFileSpec plain = smallModel(3);
    seed("qds_file", "plain", buildQds(plain));

    QdsFileSpec special = smallModel(4);
    QdsSpecialValues values;
    values.exposure = 300;
    values.settleTime = 50;
    special.layers[1].special = values;
    values.layerHeight = 0;
    special.layers[3].special = values;
    special.general.settleTime = kMachineValue;
    special.general.liftI = {kMachineValue, kMachineValue};
    seed("qds_file", "special", buildQds(special));

    QdsFileSpec bare = smallModel(2);
    bare.withThumbnails = false;
    bare.version[2] = 2;
    seed("qds_file", "bare-newer", buildQds(bare));

    // A resolution that allows huge blocks, and a block of 4 GiB and 16 bytes.
    QdsFileSpec huge = smallModel(2);
    huge.general.xRes = huge.general.yRes = 0xFFFFFFFF;
    QdsLayout layout;
    std::string bytes = buildQds(huge, &layout);
    putU64(bytes, layout.layerTable + 80 + 16, (uint64_t{4} << 30) + 16);
    seed("qds_file", "huge-raster", bytes);
}

void svgxSeeds()
{
    SvgxFileSpec spec;
    spec.layers.push_back(layerGroup(0, {squarePathData(-5, -5, 10)}));
    spec.layers.push_back(layerGroup(1, {squarePathData(-10, -10, 20) + " " + squarePathData(-2, -2, 4)}));
    spec.layers.push_back(layerGroup(2, {polygonPathData(0, 0, 8, 12), polygonPathData(15, 0, 3, 6)}));
    seed("svgx_file", "three-layers", buildSvgx(spec));

    SvgxPrintParams params;
    params.withProjectionAdjust = false;
    params.withPrintRange = false;
    params.printMode = 1;
    spec.printParams = printParamsElement(params, 3);
    spec.withSvgEnd = false;
    spec.finalLineBreak = false;
    seed("svgx_file", "fast-unterminated", buildSvgx(spec));

    // Layers the projection refuses: references that fan out, a picture from a file.
    SvgxFileSpec hostile;
    hostile.layers.push_back("<g id=\"layer-0\">\n" +
                             useFanOutBody(40, "<path d=\"" + squarePathData(0, 0, 1) + "\"/>") + "\n</g>");
    hostile.layers.push_back("<g id=\"layer-1\">\n" + imageElement("/etc/hostname") + "\n</g>");
    seed("svgx_file", "hostile-references", buildSvgx(hostile));

    // Within the reader's caps, but asking much of what follows it (smaller
    // kin of the files of the tests, which exceed a fuzzer's limits).
    SvgxFileSpec heavy;
    heavy.layers = {emptyGroupsLayer(0, 1u << 20), smallPathsLayer(1, 20000), gradientCirclesLayer(2, 2000, 60)};
    seed("svgx_file", "heavy-layers", buildSvgx(heavy));
    SvgxFileSpec crowded = spec;
    crowded.printParams = printParamsWithEmptyChildren(3, 100000);
    seed("svgx_file", "crowded-params", buildSvgx(crowded));
    SvgxFileSpec cut;
    cut.layers = {layerGroup(0, {squarePathData(0, 0, 1)}), "<g id=\"layer-1\">\n<path d=\"M 0 0 L 1 0 L 1 1 Z\"/>"};
    cut.withSvgEnd = false;
    seed("svgx_file", "truncated", buildSvgx(cut));
}

void offsetSeeds()
{
    const std::string head = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\">\n";
    const std::string square = layerGroup(0, {squarePathData(0, 0, 10)});
    const std::string hole = layerGroup(1, {squarePathData(0, 0, 20) + " M 5 5 L 5 15 L 15 15 L 15 5 Z"});
    const std::string many = layerGroup(2, {polygonPathData(0, 0, 8, 40), polygonPathData(20, 0, 0.05, 5)});
    seed("svg_offset", "square", std::string("\x01\x00", 2) + head + square + "\n</svg>");
    seed("svg_offset", "hole", std::string("\xfb\x00", 2) + head + hole + "\n</svg>");
    seed("svg_offset", "polygons", std::string("\x03\x00", 2) + head + many + "\n</svg>");
    seed("svg_offset", "path-data", std::string("\x02\x01", 2) + polygonPathData(1, 1, 4, 9));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s SEED_DIR\n", argv[0]);
        return 2;
    }
    g_dir = argv[1];
    decodeSeeds();
    qdsSeeds();
    svgxSeeds();
    offsetSeeds();
    return 0;
}
