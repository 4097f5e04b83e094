#include "driver/SampleModel.h"

#include "driver/OutFiles.h"
#include "writers/QdsWriter.h"

#include <cmath>
#include <vector>

namespace {

// A disc and a bar that change with the layer, so every frame differs.
std::vector<uint8_t> layerImage(int width, int height, int layer, int layers)
{
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height, 0);
    const double t = static_cast<double>(layer) / std::max(1, layers - 1);
    const double cx = width * (0.35 + 0.3 * t), cy = height * 0.5;
    const double r = height * (0.12 + 0.18 * std::sin(t * 3.14159));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double dx = x - cx, dy = y - cy;
            const bool disc = dx * dx + dy * dy <= r * r;
            const bool bar = x > width / 10 && x < width / 10 + width / 20 && y > height / 5 && y < height * 4 / 5;
            if (disc || bar)
                pixels[static_cast<size_t>(y) * width + x] = 255;
        }
    return pixels;
}

} // namespace

int writeSampleModel(const std::string& path, int width, int height, int layers)
{
    testwriters::QdsFileSpec spec;
    testwriters::QdsGeneralValues& g = spec.general;
    g.xRes = static_cast<uint32_t>(width);
    g.yRes = static_cast<uint32_t>(height);
    g.materialName = "Demo Grey";
    g.layerHeight = 0.05f;
    g.bottomLayers = 3;
    g.transitionLayers = 4;
    g.bottomExposure = 300; // 10 ms units: 3 s
    g.exposure = 150;       // 1.5 s
    g.settleTime = testwriters::kMachineValue;
    g.releaseTime = testwriters::kMachineValue;
    g.breatheTime = testwriters::kMachineValue;
    g.liftI = {testwriters::kMachineValue, testwriters::kMachineValue};
    g.liftII = {testwriters::kMachineValue, testwriters::kMachineValue};
    g.dropI = {testwriters::kMachineValue, testwriters::kMachineValue};
    g.dropII = {testwriters::kMachineValue, testwriters::kMachineValue};
    g.liftV = testwriters::kMachineValue;
    g.dropV = testwriters::kMachineValue;
    for (int n = 0; n < layers; ++n) {
        testwriters::QdsLayerSpec layer;
        layer.raster = testwriters::makeRasterBlock(layerImage(width, height, n, layers));
        if (n >= layers / 2 && n < layers / 2 + 3) {
            testwriters::QdsSpecialValues special;
            special.exposure = 250; // the overhang gets more light
            special.liftI = {testwriters::kMachineValue, 50}; // and a slower first lift stage: 0.5 mm/s
            layer.special = special;
        }
        spec.layers.push_back(layer);
    }
    return writeWholeFile(path, testwriters::buildQds(spec));
}
