#include "driver/SliceFileCheck.h"

#include "base/files/RegularFile.h"
#include "base/log/RootPath.h"
#include "engine/print/PrintLimits.h"
#include "engine/records/PrintRecords.h"
#include "engine/slicefile/LayerDecoder.h"
#include "engine/slicefile/PrintFileParser.h"
#include "engine/slicefile/PrintParams.h"
#include "engine/slicefile/QdsFormat.h"
#include "engine/slicefile/SvgParser.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <strings.h>
#include <vector>

namespace {

// The head of an ".svgx" file: tag, preview offsets and the SVG text's offset.
constexpr uint64_t kSvgxHeadBytes = 28;

std::string format(const char* text, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* text, ...)
{
    char line[512];
    va_list args;
    va_start(args, text);
    vsnprintf(line, sizeof line, text, args);
    va_end(args);
    return line;
}

bool endsWith(const std::string& path, const char* suffix)
{
    const size_t n = strlen(suffix);
    return path.size() >= n && strcasecmp(path.c_str() + path.size() - n, suffix) == 0;
}

bool isSvgx(const std::string& path)
{
    return endsWith(path, ".svgx");
}

uint64_t fileBytes(const std::string& boardPath)
{
    struct stat info{};
    return stat(rootPath(boardPath).c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

// The fault of a print's parameters in words, or empty.
std::string paramsFault(const PrintWorkPara& work, bool drawn)
{
    if (work.model.layerCount == 0)
        return "it has no layers";
    const char* fault = printParamsFault(work);
    // Only a drawn layer is scaled: a qds raster is the panel's own.
    if (!fault && drawn)
        fault = projectionAdjustFault(work.model);
    return fault ? std::string("its print parameters are out of bounds: ") + fault : std::string();
}

std::string qdsRefusal(const std::string& boardPath, int width, int height)
{
    PrintFileParser reader;
    const int checked = reader.checkFile(boardPath, true);
    const uint64_t bytes = fileBytes(boardPath);
    if (checked > 0)
        return std::string("it cannot be read: ") + strerror(checked);
    if (checked == -1)
        return bytes == 0 ? "it is empty"
                          : format("it is too short for a .qds file: %llu bytes, where the header alone takes %zu",
                                   static_cast<unsigned long long>(bytes), QdsHeader::kSize);
    if (checked != 0) {
        if (reader.header().magic != kQdsMagic)
            return "it is no .qds file: it does not begin with the .qds mark";
        return format("its print parameters (at byte %u) lie past its end (%llu bytes)",
                      reader.header().generalDataOffset, static_cast<unsigned long long>(bytes));
    }
    const QdsGeneralData& general = reader.generalData();
    const int resolution = reader.checkResolution(width, height);
    if (resolution == -1)
        return format("it names no resolution (%ux%u pixels)", general.xRes, general.yRes);
    if (resolution != 0)
        return format("it is sliced for %ux%u pixels; the machine's panel is %dx%d (--resolution sets another)",
                      general.xRes, general.yRes, width, height);
    return paramsFault(reader.m_workPara, false);
}

std::string svgxRefusal(const std::string& boardPath)
{
    const uint64_t bytes = fileBytes(boardPath);
    if (bytes < kSvgxHeadBytes)
        return bytes == 0 ? "it is empty"
                          : format("it is too short for an .svgx file: %llu bytes, where the head alone takes %llu",
                                   static_cast<unsigned long long>(bytes),
                                   static_cast<unsigned long long>(kSvgxHeadBytes));
    SvgParser reader(boardPath, 4048);
    if (reader.open() != 0) {
        if (reader.lastFailure() == SvgParser::Failure::Memory)
            return "there was not enough memory to read its print parameters";
        if (reader.lastFailure() == SvgParser::Failure::File)
            return "its print parameters cannot be read: the file is damaged or cut off";
        // The reader stands at the start of the SVG text again.
        const std::string text = reader.findNodeText("<printparams ", "</printparams>");
        if (text.empty())
            return "it has no print parameters (no <printparams> element)";
        if (text == PrinterError::Memory)
            return "its print parameters cannot be read: the file is damaged or cut off";
        return "its print parameters (the <printparams> element) are not well-formed XML";
    }
    const SliceParams& params = reader.sliceParams();
    PrintWorkPara work;
    work.model = toModelInfo(params);
    // The file gives the projection scale in percent.
    work.model.adjustX = params.adjustX / 100;
    work.model.adjustY = params.adjustY / 100;
    return paramsFault(work, true);
}

// The most layers the printer's progress counts.
constexpr uint32_t kMaxLayers = std::numeric_limits<int32_t>::max();

std::string tooManyLayers(const std::string& declared)
{
    return "it declares " + declared + " layers, more than the printer counts (" + std::to_string(kMaxLayers) +
           " at most)";
}

// The layercount attribute as the file has it: its reader reads a count past
// 32 bits, or text that is no number, as none.
std::string svgxCountFault(const std::string& boardPath)
{
    SvgParser reader(boardPath, 4048);
    if (reader.open() != 0)
        return {};
    if (reader.sliceParams().layerCount > kMaxLayers)
        return tooManyLayers(std::to_string(reader.sliceParams().layerCount));
    if (reader.sliceParams().layerCount != 0)
        return {};
    // The reader stands at the start of the SVG text again.
    const std::string text = reader.findNodeText("<printparams ", "</printparams>");
    const ParamsDocument document(QByteArray(XML_ROOT_HEAD) + QByteArray::fromStdString(text) + XML_ROOT_TAIL);
    const QDomElement params = document.root().firstChildElement("printparams");
    if (!params.hasAttribute("layercount"))
        return {};
    const std::string declared = params.attribute("layercount").trimmed().toStdString();
    const bool whole = !declared.empty() && std::all_of(declared.begin(), declared.end(), [](char c) {
        return isdigit(static_cast<unsigned char>(c));
    });
    if (!whole)
        return "its layer count \"" + declared + "\" is no whole number";
    const std::string digits = declared.substr(std::min(declared.find_first_not_of('0'), declared.size()));
    const std::string most = std::to_string(kMaxLayers);
    const bool past = digits.size() > most.size() || (digits.size() == most.size() && digits > most);
    return past ? tooManyLayers(declared) : std::string();
}

std::string layerWords(int layer, const std::string& fault)
{
    return format("layer %d: ", layer + 1) + fault;
}

// Why the reader handed out no raster for the layer: its entry in the layer
// table, read as the reader reads it, against the file's length.
std::string missingRaster(const std::string& boardPath, const PrintFileParser& reader, int layer)
{
    uint8_t entry[QdsLayerRecord::kSize];
    const uint64_t at = reader.header().layerTableOffset + uint64_t{QdsLayerRecord::kSize} * unsigned(layer);
    const int fd = openRegularFile(rootPath(boardPath));
    const bool read = fd >= 0 && pread(fd, entry, sizeof entry, static_cast<off_t>(at)) == ssize_t(sizeof entry);
    if (fd >= 0)
        close(fd);
    if (!read)
        return "its entry in the layer table cannot be read";
    const QdsLayerRecord record = QdsLayerRecord::fromBytes(entry);
    const uint64_t bytes = fileBytes(boardPath);
    const uint32_t offset = static_cast<uint32_t>(record.rasterOffset);
    const auto size = static_cast<unsigned long long>(record.rasterSize);
    if (record.rasterSize == 0)
        return "it has no raster";
    if (offset > bytes || record.rasterSize > bytes - offset)
        return format("its raster of %llu bytes at byte %u runs past the end of the file (%llu bytes)", size, offset,
                      static_cast<unsigned long long>(bytes));
    return format("its raster of %llu bytes cannot be read (larger than any raster of the panel, or more than "
                  "memory holds)",
                  size);
}

std::string qdsLayerFault(const std::string& boardPath, int layer, int width, int height)
{
    PrintFileParser reader;
    if (reader.checkFile(boardPath, true) != 0)
        return "the file can no longer be read";
    // Each layer's parameters build on the last layer's, as in the print.
    for (int n = 0; n <= layer; ++n) {
        switch (reader.getNextPrintParam()) {
        case -1:
            return layerWords(n, "its entry in the layer table lies past the end of the file");
        case -ENOENT:
            return layerWords(n, "its entry in the layer table bears another layer's number");
        case -ESRCH:
            return layerWords(n, "its own print parameters lie past the end of the file");
        default:
            break;
        }
        if (const char* fault = layerParamsFault(reader.m_workPara))
            return layerWords(n, std::string("its print parameters are out of bounds: ") + fault);
    }
    const std::string& raster = reader.getLayerData(static_cast<unsigned>(layer));
    if (raster.empty())
        return layerWords(layer, missingRaster(boardPath, reader, layer));
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    std::vector<uint8_t> scratch;
    const unsigned size = static_cast<unsigned>(std::min<size_t>(raster.size(), UINT32_MAX));
    switch (decodeLayerData(pixels.data(), width * height, scratch, raster, size)) {
    case 0:
        return {};
    case -ENOENT:
        return layerWords(layer, "its raster's compressed stream ends before its stated length");
    case -ESRCH:
        return layerWords(layer, format("its raster leaves pixels of the %dx%d panel unset", width, height));
    case -ECHILD:
        return layerWords(layer, format("its raster runs past the last pixel of the %dx%d panel", width, height));
    default:
        return layerWords(layer, "its raster is no valid compressed stream");
    }
}

std::string svgxLayerFault(const std::string& boardPath, int layer)
{
    SvgParser reader(boardPath, 4048);
    if (reader.open() != 0)
        return "the file can no longer be read";
    for (int n = 0; n <= layer; ++n) {
        const std::string text = reader.nextLayer();
        if (text == PrinterError::Memory)
            return layerWords(n, reader.lastFailure() == SvgParser::Failure::Memory
                                     ? "there was not enough memory to read it"
                                     : "it cannot be read from the file: cut off by the file's end, a line or "
                                       "layer too long, or nested too deep");
        if (text.empty())
            return layerWords(n, format("the file ends before it, though its print parameters name %u layers",
                                        reader.sliceParams().layerCount));
    }
    return {};
}

} // namespace

std::string inputFault(const std::string& hostPath)
{
    const int fd = openRegularFile(hostPath);
    if (fd < 0) {
        switch (errno) {
        case ENOENT:
            return "there is no file " + hostPath;
        case EISDIR:
            return hostPath + " is a folder, not a slice file";
        case EINVAL:
            return hostPath + " is not a regular file";
        default:
            return "cannot read " + hostPath + ": " + strerror(errno);
        }
    }
    close(fd);
    if (!endsWith(hostPath, ".qds") && !isSvgx(hostPath))
        return hostPath + " is neither a .qds nor an .svgx file, the two the printer takes";
    return {};
}

std::string refusalCause(const std::string& boardPath, int width, int height)
{
    return isSvgx(boardPath) ? svgxRefusal(boardPath) : qdsRefusal(boardPath, width, height);
}

std::string layerCountFault(const std::string& boardPath)
{
    if (isSvgx(boardPath))
        return svgxCountFault(boardPath);
    PrintFileParser reader;
    if (reader.checkFile(boardPath, true) != 0 || reader.generalData().layerCount <= kMaxLayers)
        return {};
    return tooManyLayers(std::to_string(reader.generalData().layerCount));
}

std::string layerFault(const std::string& boardPath, int layer, int width, int height)
{
    if (layer < 0 || width < 1 || height < 1)
        return {};
    return isSvgx(boardPath) ? svgxLayerFault(boardPath, layer) : qdsLayerFault(boardPath, layer, width, height);
}
