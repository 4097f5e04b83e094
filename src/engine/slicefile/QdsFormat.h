#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The binary "qds" slice file: a fixed header, two preview images, one block
// of print parameters for the whole model, a table of one record per layer,
// optional per-layer parameter overrides and one compressed raster per layer.
// Every number is little-endian; offsets count from the start of the file.

// How the layer rasters are stored.
enum class ComprFormat : uint32_t {
    ZlibRle = 3, // u32 pair-stream length, then a zlib stream of (value, count) pairs
};

// A 16-bit parameter holding this value means "the machine's setting".
constexpr uint16_t kQdsUseMachineValue = 65535;

constexpr uint32_t kQdsMagic = 0x564E; // "NV" followed by two zero bytes, read little-endian

struct QdsHeader
{
    static constexpr size_t kSize = 112;

    uint32_t magic = 0;
    uint8_t version[4] = {}; // 0, major, minor, patch
    uint32_t comprFormat = 0;
    uint32_t thumbnailTableOffset = 0; // 0: no thumbnails
    uint32_t generalDataOffset = 0;
    uint32_t layerTableOffset = 0;

    static QdsHeader fromBytes(const uint8_t* bytes);
};

struct QdsThumbnailTable
{
    static constexpr size_t kSize = 32;

    uint32_t smallSize = 0;
    uint32_t smallOffset = 0;
    uint32_t normalSize = 0;
    uint32_t normalOffset = 0;

    static QdsThumbnailTable fromBytes(const uint8_t* bytes);
};

// One Z stage as stored: distance and speed, both in 0.01 mm (/s).
struct QdsStage
{
    uint16_t x = 0;
    uint16_t v = 0;
};

// The print parameters of the whole model. Times are in 10 ms units.
struct QdsGeneralData
{
    static constexpr size_t kSize = 436;
    static constexpr size_t kMaterialNameOffset = 52;
    static constexpr size_t kMaterialNameSpace = 308 - kMaterialNameOffset;

    uint32_t xRes = 0;
    uint32_t yRes = 0;
    float adjustX = 0;
    float adjustY = 0;
    std::string materialName;
    float volume = 0;
    float layerHeight = 0; // mm
    uint16_t liftV = 0;    // 0.01 mm/s, base layers
    uint16_t dropV = 0;
    uint16_t bottomExposure = 0;
    uint32_t bottomLayers = 0;
    uint32_t transitionLayers = 0;
    uint32_t layerCount = 0;
    QdsStage liftI, liftII, dropI, dropII;
    uint16_t settleTime = 0;
    uint16_t releaseTime = 0;
    uint16_t breatheTime = 0;
    uint16_t exposure = 0;
    uint16_t lightIntensity = 0; // in units of 10
    uint16_t extraValue1 = 0;    // in units of 10
    uint16_t extraValue2 = 0;

    static QdsGeneralData fromBytes(const uint8_t* bytes);
};

struct QdsLayerRecord
{
    static constexpr size_t kSize = 80;

    uint64_t serialNumber = 0;
    uint64_t specialDataOffset = 0; // 0: none; the low 32 bits are used
    uint64_t rasterSize = 0;
    uint64_t rasterOffset = 0;      // the low 32 bits are used

    static QdsLayerRecord fromBytes(const uint8_t* bytes);
};

// Per-layer overrides of the general data; a 16-bit field of 65535 keeps the
// general value. The block applies only when its layer height is above 0.
struct QdsSpecialData
{
    static constexpr size_t kSize = 60;

    float layerHeight = 0;
    QdsStage liftI, liftII, dropI, dropII;
    uint16_t exposure = 0;
    uint16_t lightIntensity = 0;
    uint16_t extraValue1 = 0;
    uint16_t extraValue2 = 0;
    uint16_t settleTime = 0;
    uint16_t releaseTime = 0;
    uint16_t breatheTime = 0;

    static QdsSpecialData fromBytes(const uint8_t* bytes);
};
