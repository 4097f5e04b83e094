#include "engine/slicefile/QdsFormat.h"

#include "engine/slicefile/LittleEndian.h"

#include <cstring>

namespace {

QdsStage stageAt(const uint8_t* p)
{
    return {le::u16(p), le::u16(p + 2)};
}

} // namespace

QdsHeader QdsHeader::fromBytes(const uint8_t* b)
{
    QdsHeader h;
    h.magic = le::u32(b);
    std::memcpy(h.version, b + 4, 4);
    h.comprFormat = le::u32(b + 8);
    h.thumbnailTableOffset = le::u32(b + 20);
    h.generalDataOffset = le::u32(b + 24);
    h.layerTableOffset = le::u32(b + 28);
    return h;
}

QdsThumbnailTable QdsThumbnailTable::fromBytes(const uint8_t* b)
{
    return {le::u32(b), le::u32(b + 4), le::u32(b + 8), le::u32(b + 12)};
}

QdsGeneralData QdsGeneralData::fromBytes(const uint8_t* b)
{
    QdsGeneralData g;
    g.xRes = le::u32(b);
    g.yRes = le::u32(b + 4);
    g.adjustX = le::f32(b + 44);
    g.adjustY = le::f32(b + 48);
    // The name need not be terminated: it ends where its space ends.
    const char* name = reinterpret_cast<const char*>(b + kMaterialNameOffset);
    g.materialName.assign(name, strnlen(name, kMaterialNameSpace));
    g.volume = le::f32(b + 308);
    g.layerHeight = le::f32(b + 336);
    g.liftV = le::u16(b + 340);
    g.dropV = le::u16(b + 342);
    g.bottomExposure = le::u16(b + 344);
    g.bottomLayers = le::u32(b + 348);
    g.transitionLayers = le::u32(b + 352);
    g.layerCount = le::u32(b + 356);
    g.liftI = stageAt(b + 360);
    g.liftII = stageAt(b + 368);
    g.dropI = stageAt(b + 376);
    g.dropII = stageAt(b + 384);
    g.settleTime = le::u16(b + 392);
    g.releaseTime = le::u16(b + 394);
    g.breatheTime = le::u16(b + 396);
    g.exposure = le::u16(b + 404);
    g.lightIntensity = le::u16(b + 406);
    g.extraValue1 = le::u16(b + 408);
    g.extraValue2 = le::u16(b + 410);
    return g;
}

QdsLayerRecord QdsLayerRecord::fromBytes(const uint8_t* b)
{
    return {le::u64(b), le::u64(b + 8), le::u64(b + 16), le::u64(b + 24)};
}

QdsSpecialData QdsSpecialData::fromBytes(const uint8_t* b)
{
    QdsSpecialData s;
    s.layerHeight = le::f32(b);
    s.liftI = stageAt(b + 4);
    s.liftII = stageAt(b + 12);
    s.dropI = stageAt(b + 20);
    s.dropII = stageAt(b + 28);
    s.exposure = le::u16(b + 36);
    s.lightIntensity = le::u16(b + 38);
    s.extraValue1 = le::u16(b + 40);
    s.extraValue2 = le::u16(b + 42);
    s.settleTime = le::u16(b + 48);
    s.releaseTime = le::u16(b + 50);
    s.breatheTime = le::u16(b + 52);
    return s;
}
