#include "engine/slicefile/PrintFileParser.h"

#include "base/log/RootPath.h"

#include "base/log/LogWriter.h"
#include "engine/slicefile/NumberConversion.h"
#include "engine/slicefile/SliceFileOpen.h"

#include "base/config/ConfigStore.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <new>

namespace {

// A 65535 field takes the machine's value in the file's unit: the product
// computed in the setting's own type, then truncated. Settings past the
// field's range are clamped rather than wrapped.
void resolve(uint16_t& field, double product)
{
    if (field == kQdsUseMachineValue)
        field = saturatingCast<uint16_t>(product);
}

void resolve(QdsStage& stage, const MotorPara& machine)
{
    resolve(stage.x, machine.X * 100.0f);
    resolve(stage.v, machine.V * 100.0f);
}

uint16_t pick(uint16_t layerValue, uint16_t generalValue)
{
    return layerValue == kQdsUseMachineValue ? generalValue : layerValue;
}

void setStage(MotorPara& para, const QdsStage& layer, const QdsStage& general)
{
    para.X = pick(layer.x, general.x) / 100.0f;
    para.V = pick(layer.v, general.v) / 100.0f;
}

void setStage(MotorPara& para, const QdsStage& stage)
{
    setStage(para, stage, stage);
}

const char* readError(int savedErrno)
{
    return savedErrno ? strerror(savedErrno) : "past the end of the file";
}

} // namespace

PrintFileParser::PrintFileParser() = default;

PrintFileParser::~PrintFileParser()
{
    if (m_file)
        fclose(m_file);
}

PrintFileParser::ReadResult PrintFileParser::readAt(uint64_t offset, void* buffer, size_t size)
{
    errno = 0;
    if (!m_file || offset > m_fileSize || size > m_fileSize - offset)
        return ReadResult::PastEnd;
    if (fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) != 0)
        return ReadResult::Failed;
    if (fread(buffer, 1, size, m_file) != size)
        return ReadResult::Failed;
    return ReadResult::Ok;
}

int PrintFileParser::checkFile(const std::string& path, bool readGeneral)
{
    if (!m_file) {
        m_file = openSliceFile(rootPath(path));
        if (!m_file) {
            const int error = errno;
            logger()->write(LogError, "%s, %d: %s", "checkFile", __LINE__,
                       error == EINVAL ? "not a regular file" : strerror(error));
            return error;
        }
        struct stat info;
        m_fileSize = fstat(fileno(m_file), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    }

    m_header.magic = 0;
    if (readHead() != 0)
        return -1;
    if (m_header.magic != kQdsMagic) {
        logCheck("int PrintFileParser::checkFile(const string&, bool)", __LINE__);
        return -ENOENT;
    }
    return readGeneral ? readGeneralData() : 0;
}

int PrintFileParser::readHead()
{
    uint8_t bytes[QdsHeader::kSize];
    if (readAt(0, bytes, sizeof bytes) != ReadResult::Ok) {
        logCheck("int PrintFileParser::readHead()", __LINE__);
        return -ENOENT;
    }
    m_header = QdsHeader::fromBytes(bytes);
    return 0;
}

int PrintFileParser::readGeneralData()
{
    uint8_t bytes[QdsGeneralData::kSize];
    if (readAt(m_header.generalDataOffset, bytes, sizeof bytes) != ReadResult::Ok) {
        logCheck("int PrintFileParser::readGeneralData()", __LINE__);
        return -ENOENT;
    }
    m_general = QdsGeneralData::fromBytes(bytes);
    m_haveGeneral = true;
    applyMachineValues();
    fillWorkPara();
    return 0;
}

void PrintFileParser::applyMachineValues()
{
    const PrintingPara& machine = ConfigStore::instance()->m_printingPara;
    resolve(m_general.liftV, machine.Lift_V * 100);
    resolve(m_general.dropV, machine.Drop_V * 100);
    resolve(m_general.liftI, machine.LiftI);
    resolve(m_general.liftII, machine.LiftII);
    resolve(m_general.dropI, machine.DropI);
    resolve(m_general.dropII, machine.DropII);
    resolve(m_general.settleTime, machine.SettleTime / 10);
    resolve(m_general.releaseTime, machine.ReleaseTime / 10);
    resolve(m_general.breatheTime, machine.BreatheTime / 10);
}

void PrintFileParser::fillWorkPara()
{
    const QdsGeneralData& g = m_general;
    ModelInfo& model = m_workPara.model;
    model = ModelInfo();
    model.materialName = g.materialName;
    model.layerHeight = g.layerHeight;
    model.volume = g.volume;
    model.layerCount = g.layerCount;
    model.attachLayers = g.bottomLayers;
    model.transitionLayers = g.transitionLayers;
    model.attachExposure = g.bottomExposure * 10u;
    model.normalExposure = g.exposure * 10u;
    model.lightIntensity = g.lightIntensity * 10u;
    model.extraValue1 = g.extraValue1 * 10u;
    model.extraValue2 = g.extraValue2 * 10u;
    model.adjustX = g.adjustX;
    model.adjustY = g.adjustY;

    PrintingPara& para = m_workPara.printing;
    para = ConfigStore::instance()->m_printingPara;
    para.Name = ".nv";
    para.Lift_V = g.liftV / 100.0;
    para.Drop_V = g.dropV / 100.0;
    setStage(para.LiftI, g.liftI);
    setStage(para.LiftII, g.liftII);
    setStage(para.DropI, g.dropI);
    setStage(para.DropII, g.dropII);
    para.SettleTime = g.settleTime * 10u;
    para.ReleaseTime = g.releaseTime * 10u;
    para.BreatheTime = g.breatheTime * 10u;
}

int PrintFileParser::checkResolution(int xres, int yres)
{
    logger()->write(LogInfo, "File Res(%u*%u)", m_general.xRes, m_general.yRes);
    if (m_general.xRes == 0 || m_general.yRes == 0)
        return -1;
    if (xres < 0 || yres < 0 || m_general.xRes != static_cast<uint32_t>(xres) ||
        m_general.yRes != static_cast<uint32_t>(yres))
        return -ENOENT;
    return 0;
}

int PrintFileParser::checkVersion()
{
    static const uint8_t newest[4] = {0, 1, 1, 0};
    if (memcmp(m_header.version, newest, sizeof newest) <= 0)
        return 1;
    logger()->write(LogWarn, "File version %d.%d.%d is newer than the highest supported version 1.1.0",
               m_header.version[1], m_header.version[2], m_header.version[3]);
    return 0;
}

PrintFileParser::ReadResult PrintFileParser::readLayerRecord(unsigned layer, QdsLayerRecord& record)
{
    uint8_t bytes[QdsLayerRecord::kSize];
    const uint64_t offset = m_header.layerTableOffset + uint64_t{QdsLayerRecord::kSize} * layer;
    const ReadResult result = readAt(offset, bytes, sizeof bytes);
    if (result == ReadResult::Ok)
        record = QdsLayerRecord::fromBytes(bytes);
    return result;
}

int PrintFileParser::getPrintParam(unsigned layer)
{
    QdsLayerRecord record;
    if (readLayerRecord(layer, record) != ReadResult::Ok) {
        logger()->write(LogError, "%s %d failed, %s", "getPrintParam", layer, readError(errno));
        return -1;
    }
    if (record.serialNumber != layer) {
        logger()->write(LogError, "%s failed, serialNumber=%llu, layer=%u", "getPrintParam",
                   static_cast<unsigned long long>(record.serialNumber), layer);
        return -ENOENT;
    }
    const uint32_t specialOffset = static_cast<uint32_t>(record.specialDataOffset);
    if (specialOffset == 0)
        return static_cast<int>(layer);

    uint8_t bytes[QdsSpecialData::kSize];
    if (readAt(specialOffset, bytes, sizeof bytes) != ReadResult::Ok) {
        logger()->write(LogError, "getSpecialData L(%u) failed, %s", layer, readError(errno));
        return -ESRCH;
    }
    const QdsSpecialData s = QdsSpecialData::fromBytes(bytes);
    if (!(s.layerHeight > 0)) // also refuses NaN
        return static_cast<int>(layer);

    const QdsGeneralData& g = m_general;
    ModelInfo& model = m_workPara.model;
    PrintingPara& para = m_workPara.printing;
    model.layerHeight = s.layerHeight;
    setStage(para.LiftI, s.liftI, g.liftI);
    setStage(para.LiftII, s.liftII, g.liftII);
    setStage(para.DropI, s.dropI, g.dropI);
    setStage(para.DropII, s.dropII, g.dropII);
    model.normalExposure = pick(s.exposure, g.exposure) * 10u;
    model.lightIntensity = pick(s.lightIntensity, g.lightIntensity) * 10u;
    model.extraValue1 = pick(s.extraValue1, g.extraValue1) * 10u;
    model.extraValue2 = pick(s.extraValue2, g.extraValue2) * 10u;
    para.SettleTime = pick(s.settleTime, g.settleTime) * 10u;
    para.ReleaseTime = pick(s.releaseTime, g.releaseTime) * 10u;
    para.BreatheTime = pick(s.breatheTime, g.breatheTime) * 10u;
    logger()->write(LogInfo, "get Special Data(%u)", layer);
    return static_cast<int>(layer);
}

int PrintFileParser::getNextPrintParam()
{
    ++m_currentLayer;
    return getPrintParam(static_cast<unsigned>(m_currentLayer));
}

uint64_t PrintFileParser::maxRasterSize() const
{
    if (!m_haveGeneral)
        return UINT64_MAX; // the file's length still bounds it
    // The length field, then a zlib stream of at most two bytes per pixel
    // plus a stray final byte; deflate adds well under 1% to stored data.
    const uint64_t pairBytes = uint64_t{2} * m_general.xRes * m_general.yRes + 1;
    return 4 + pairBytes + pairBytes / 64 + 1024;
}

const std::string& PrintFileParser::getLayerData(unsigned layer)
{
    m_layerData.clear();
    QdsLayerRecord record;
    if (readLayerRecord(layer, record) != ReadResult::Ok) {
        logger()->write(LogError, "%s %d failed, %s", "getLayerData", layer, readError(errno));
        return m_layerData;
    }
    if (record.serialNumber != layer) {
        logger()->write(LogError, "%s failed, serialNumber=%llu, layer=%u", "getLayerData",
                   static_cast<unsigned long long>(record.serialNumber), layer);
        return m_layerData;
    }
    if (record.rasterSize != 0) {
        const uint32_t offset = static_cast<uint32_t>(record.rasterOffset);
        if (offset > m_fileSize || record.rasterSize > m_fileSize - offset) {
            logger()->write(LogError, "%s %d failed, raster of %llu bytes at %u is past the end of the file",
                       "getLayerData", layer, static_cast<unsigned long long>(record.rasterSize), offset);
            return m_layerData;
        }
        if (record.rasterSize > maxRasterSize()) {
            logger()->write(LogError, "%s %d failed, raster of %llu bytes is larger than any valid one",
                       "getLayerData", layer, static_cast<unsigned long long>(record.rasterSize));
            return m_layerData;
        }
        // A 32-bit machine holds no block of 4 GiB or more, nor one past half its address space.
        if (record.rasterSize > m_layerData.max_size()) {
            logger()->write(LogError, "%s %d failed, raster of %llu bytes is more than this machine can hold",
                       "getLayerData", layer, static_cast<unsigned long long>(record.rasterSize));
            return m_layerData;
        }
        try {
            m_layerData.resize(static_cast<size_t>(record.rasterSize));
        } catch (const std::exception&) { // no memory, or more than the library takes
            m_layerData.clear();
            logger()->write(LogError, "%s %d failed, %s", "getLayerData", layer, strerror(ENOMEM));
            return m_layerData;
        }
        if (readAt(offset, m_layerData.data(), m_layerData.size()) != ReadResult::Ok) {
            logger()->write(LogError, "%s %d failed, %s", "getLayerData", layer, readError(errno));
            m_layerData.clear();
            return m_layerData;
        }
    }
    logger()->write(LogDebug, "%s %u", "getLayerData", layer);
    return m_layerData;
}

int PrintFileParser::readThumbnail(bool small, QByteArray& image)
{
    if (m_header.thumbnailTableOffset == 0)
        return -1;
    uint8_t bytes[QdsThumbnailTable::kSize];
    if (readAt(m_header.thumbnailTableOffset, bytes, sizeof bytes) != ReadResult::Ok)
        return -ENOENT;
    const QdsThumbnailTable table = QdsThumbnailTable::fromBytes(bytes);
    const uint32_t size = small ? table.smallSize : table.normalSize;
    const uint32_t offset = small ? table.smallOffset : table.normalOffset;

    image.clear();
    if (size > kMaxThumbnailSize || uint64_t{offset} + size > m_fileSize)
        return -ESRCH;
    image.resize(static_cast<int>(size));
    return readAt(offset, image.data(), size) == ReadResult::Ok ? 0 : -ESRCH;
}

int PrintFileParser::getSmallThumbnail(QByteArray& image)
{
    return readThumbnail(true, image);
}

int PrintFileParser::getNormalThumbnail(QByteArray& image)
{
    return readThumbnail(false, image);
}
