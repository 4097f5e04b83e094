#include "writers/QdsWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace testwriters {

namespace {

constexpr size_t kHeaderSize = 112;
constexpr size_t kThumbnailTableSize = 32;
constexpr size_t kGeneralSize = 436;
constexpr size_t kRecordSize = 80;
constexpr size_t kSpecialSize = 60;

void putStage(std::string& b, size_t offset, const QdsStageValues& stage)
{
    putU16(b, offset, stage.x);
    putU16(b, offset + 2, stage.v);
}

std::string generalBytes(const QdsGeneralValues& g, uint32_t layerCount)
{
    std::string b(kGeneralSize, '\0');
    putU32(b, 0, g.xRes);
    putU32(b, 4, g.yRes);
    putF32(b, 44, g.adjustX);
    putF32(b, 48, g.adjustY);
    b.replace(52, std::min<size_t>(g.materialName.size(), 256), g.materialName, 0, 256);
    putF32(b, 308, g.volume);
    putF32(b, 312, 1.0f);
    putF32(b, 336, g.layerHeight);
    putU16(b, 340, g.liftV);
    putU16(b, 342, g.dropV);
    putU16(b, 344, g.bottomExposure);
    putU32(b, 348, g.bottomLayers);
    putU32(b, 352, g.transitionLayers);
    putU32(b, 356, layerCount);
    putStage(b, 360, g.liftI);
    putStage(b, 368, g.liftII);
    putStage(b, 376, g.dropI);
    putStage(b, 384, g.dropII);
    putU16(b, 392, g.settleTime);
    putU16(b, 394, g.releaseTime);
    putU16(b, 396, g.breatheTime);
    putU16(b, 404, g.exposure);
    putU16(b, 406, g.lightIntensity);
    putU16(b, 408, g.extraValue1);
    putU16(b, 410, g.extraValue2);
    return b;
}

std::string specialBytes(const QdsSpecialValues& s)
{
    std::string b(kSpecialSize, '\0');
    putF32(b, 0, s.layerHeight);
    putStage(b, 4, s.liftI);
    putStage(b, 12, s.liftII);
    putStage(b, 20, s.dropI);
    putStage(b, 28, s.dropII);
    putU16(b, 36, s.exposure);
    putU16(b, 38, s.lightIntensity);
    putU16(b, 40, s.extraValue1);
    putU16(b, 42, s.extraValue2);
    putU16(b, 48, s.settleTime);
    putU16(b, 50, s.releaseTime);
    putU16(b, 52, s.breatheTime);
    return b;
}

uint32_t offset32(size_t offset)
{
    if (offset > UINT32_MAX)
        throw std::length_error("qds test file past 4 GiB");
    return static_cast<uint32_t>(offset);
}

} // namespace

void putU16(std::string& b, size_t offset, uint16_t value)
{
    b[offset] = static_cast<char>(value & 0xff);
    b[offset + 1] = static_cast<char>(value >> 8);
}

void putU32(std::string& b, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        b[offset + i] = static_cast<char>(value >> (8 * i));
}

void putU64(std::string& b, size_t offset, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        b[offset + i] = static_cast<char>(value >> (8 * i));
}

void putF32(std::string& b, size_t offset, float value)
{
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    putU32(b, offset, bits);
}

std::string buildQds(const QdsFileSpec& spec, QdsLayout* layout)
{
    QdsLayout where;
    std::string file(kHeaderSize, '\0');
    file[0] = 'N';
    file[1] = 'V';
    memcpy(&file[4], spec.version, 4);
    putU32(file, 8, spec.comprFormat);

    if (spec.withThumbnails) {
        where.thumbnailTable = offset32(file.size());
        const size_t small = where.thumbnailTable + kThumbnailTableSize;
        const size_t normal = small + spec.smallThumbnail.size();
        std::string table(kThumbnailTableSize, '\0');
        putU32(table, 0, offset32(spec.smallThumbnail.size()));
        putU32(table, 4, offset32(small));
        putU32(table, 8, offset32(spec.normalThumbnail.size()));
        putU32(table, 12, offset32(normal));
        file += table + spec.smallThumbnail + spec.normalThumbnail;
    }

    where.generalData = offset32(file.size());
    const uint32_t layerCount = spec.general.layerCount.value_or(static_cast<uint32_t>(spec.layers.size()));
    file += generalBytes(spec.general, layerCount);

    where.layerTable = offset32(file.size());
    file.append(kRecordSize * spec.layers.size(), '\0');
    for (size_t i = 0; i < spec.layers.size(); ++i) {
        const QdsLayerSpec& layer = spec.layers[i];
        const size_t record = where.layerTable + kRecordSize * i;
        putU64(file, record, i);
        uint64_t special = 0;
        if (layer.special) {
            special = file.size();
            file += specialBytes(*layer.special);
        }
        const uint64_t raster = file.size();
        file += layer.raster;
        putU64(file, record + 8, special);
        putU64(file, record + 16, layer.raster.size());
        putU64(file, record + 24, raster);
        where.special.push_back(special);
        where.raster.push_back(raster);
    }
    offset32(file.size());

    putU32(file, 20, where.thumbnailTable);
    putU32(file, 24, where.generalData);
    putU32(file, 28, where.layerTable);
    if (layout)
        *layout = where;
    return file;
}

std::string encodeRlePairs(const uint8_t* pixels, size_t count)
{
    std::string pairs;
    for (size_t i = 0; i < count;) {
        size_t run = 1;
        while (run < 256 && i + run < count && pixels[i + run] == pixels[i])
            ++run;
        pairs += static_cast<char>(pixels[i]);
        pairs += static_cast<char>(run - 1);
        i += run;
    }
    return pairs;
}

std::string compressPairs(const std::string& pairs, int level)
{
    uLongf size = compressBound(pairs.size());
    std::string block(4 + size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&block[4]), &size, reinterpret_cast<const Bytef*>(pairs.data()),
                  pairs.size(), level) != Z_OK)
        throw std::runtime_error("compress2 failed");
    block.resize(4 + size);
    putU32(block, 0, offset32(pairs.size()));
    return block;
}

std::string makeRasterBlock(const std::vector<uint8_t>& pixels, int level)
{
    return compressPairs(encodeRlePairs(pixels.data(), pixels.size()), level);
}

} // namespace testwriters
