#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Writes "qds" slice files for tests, benchmarks, fuzz seeds and the
// simulator's sample models. Laid out as: header, thumbnail table,
// thumbnails, general data, layer table, special-data blocks, rasters.
namespace testwriters {

// A 16-bit parameter holding this value takes the machine's setting.
constexpr uint16_t kMachineValue = 65535;

struct QdsStageValues
{
    uint16_t x = 1000; // 0.01 mm
    uint16_t v = 500;  // 0.01 mm/s
};

// The general data; times in 10 ms units, distances and speeds x100.
struct QdsGeneralValues
{
    uint32_t xRes = 1920;
    uint32_t yRes = 1080;
    float adjustX = 100;
    float adjustY = 100;
    std::string materialName = "Standard Grey"; // cut at 256 bytes, unterminated when it fills them
    float volume = 1.0f;
    float layerHeight = 0.05f;
    uint16_t liftV = 10;
    uint16_t dropV = 10;
    uint16_t bottomExposure = 8000;
    uint32_t bottomLayers = 4;
    uint32_t transitionLayers = 8;
    std::optional<uint32_t> layerCount; // default: the number of layers written
    QdsStageValues liftI, liftII, dropI, dropII;
    uint16_t settleTime = 100;
    uint16_t releaseTime = 20;
    uint16_t breatheTime = 10;
    uint16_t exposure = 250;
    uint16_t lightIntensity = 10;
    uint16_t extraValue1 = 0;
    uint16_t extraValue2 = 0;
};

// Per-layer overrides; every 16-bit field defaults to "keep the general value".
struct QdsSpecialValues
{
    float layerHeight = 0.05f;
    QdsStageValues liftI{kMachineValue, kMachineValue};
    QdsStageValues liftII{kMachineValue, kMachineValue};
    QdsStageValues dropI{kMachineValue, kMachineValue};
    QdsStageValues dropII{kMachineValue, kMachineValue};
    uint16_t exposure = kMachineValue;
    uint16_t lightIntensity = kMachineValue;
    uint16_t extraValue1 = kMachineValue;
    uint16_t extraValue2 = kMachineValue;
    uint16_t settleTime = kMachineValue;
    uint16_t releaseTime = kMachineValue;
    uint16_t breatheTime = kMachineValue;
};

struct QdsLayerSpec
{
    std::string raster; // a whole raster block (see makeRasterBlock); may be empty
    std::optional<QdsSpecialValues> special;
};

struct QdsFileSpec
{
    uint8_t version[4] = {0, 1, 1, 0};
    uint32_t comprFormat = 3;
    bool withThumbnails = true;
    std::string smallThumbnail = "small thumbnail";
    std::string normalThumbnail = "normal thumbnail";
    QdsGeneralValues general;
    std::vector<QdsLayerSpec> layers;
};

// Where buildQds put each part, for tests that damage them.
struct QdsLayout
{
    uint32_t thumbnailTable = 0;
    uint32_t generalData = 0;
    uint32_t layerTable = 0;
    std::vector<uint64_t> special; // 0 for layers without special data
    std::vector<uint64_t> raster;
};

std::string buildQds(const QdsFileSpec& spec, QdsLayout* layout = nullptr);

// The (value, count) pair stream of 8-bit pixels: runs of 1 to 256 pixels.
std::string encodeRlePairs(const uint8_t* pixels, size_t count);
// A raster block of a pair stream: its u32 length, then its zlib stream.
std::string compressPairs(const std::string& pairs, int level = 6);
// Both steps.
std::string makeRasterBlock(const std::vector<uint8_t>& pixels, int level = 6);

// Little-endian stores into a byte string, for building and damaging files.
void putU16(std::string& bytes, size_t offset, uint16_t value);
void putU32(std::string& bytes, size_t offset, uint32_t value);
void putU64(std::string& bytes, size_t offset, uint64_t value);
void putF32(std::string& bytes, size_t offset, float value);

} // namespace testwriters
