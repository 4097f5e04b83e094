#include "engine/slicefile/SvgParser.h"

#include "base/log/RootPath.h"

#include "base/log/LogWriter.h"
#include "engine/records/PrintRecords.h"
#include "engine/slicefile/LittleEndian.h"
#include "engine/slicefile/PrintParams.h"
#include "engine/slicefile/SliceFileOpen.h"
#include "engine/slicefile/XmlGuard.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

const char* const SVG_HEAD = "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"no\"?>\n"
                             "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:svg=\"http://www.w3.org/2000/svg\" "
                             "version=\"1.1\">\n";
const char* const SVG_TAIL = "</svg>";
const char* const XML_ROOT_HEAD = "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"no\"?>\n<root>\n";
const char* const XML_ROOT_TAIL = "</root>";

namespace {

constexpr size_t kHeadSize = 28;
constexpr size_t kTagSize = 16;

bool startsWith(const std::string& line, const char* prefix)
{
    return line.compare(0, strlen(prefix), prefix) == 0;
}

} // namespace

SvgParser::SvgParser(const std::string& path, unsigned /*scratchSize*/) : m_path(path) {}

SvgParser::~SvgParser()
{
    if (m_file)
        fclose(m_file);
}

int SvgParser::open()
{
    if (m_file)
        fclose(m_file);
    m_file = openSliceFile(rootPath(m_path));
    const int error = errno;
    m_reader.setFile(m_file);
    if (!m_file) {
        printf("SvgParser: Fail To Open File (%s)\n", m_path.c_str());
        logger()->write(LogError, "SvgParser: cannot open %s: %s", m_path.c_str(),
                   error == EINVAL ? "not a regular file" : strerror(error));
        return -1;
    }
    if (readHead() != 0)
        return -1;
    return readPrintParams();
}

int SvgParser::readHead()
{
    uint8_t head[kHeadSize];
    if (fread(head, 1, sizeof head, m_file) != sizeof head)
        return -1;
    const char* tag = reinterpret_cast<const char*>(head);
    m_tag.assign(tag, strnlen(tag, kTagSize));
    m_svgOffset = le::u32(head + 24);
    return 0;
}

int SvgParser::readPrintParams()
{
    m_params = SliceParams();
    if (!m_file || m_reader.seek(m_svgOffset) != 0)
        return -1;

    std::string text;
    while (text.empty() && !m_reader.atEnd())
        text = findNodeText("<printparams ", "</printparams>", kMaxParamsLength);
    m_reader.seek(m_svgOffset); // the layers start over from the top

    if (text.empty()) {
        printf("SvgParser: Not Found \"printparams\" Node\n");
        return -1;
    }
    if (text == PrinterError::Memory)
        return -1; // a read failure, not parameters
    const ParamsDocument document(QByteArray(XML_ROOT_HEAD) + QByteArray::fromStdString(text) + XML_ROOT_TAIL);
    return parsePrintParams(document.root(), m_params);
}

std::string SvgParser::readFailure(const char* reason, Failure failure)
{
    m_failure = failure;
    printf("%s\n", reason);
    logger()->write(LogError, "%s, %d: %s", "findNodeText", __LINE__, reason);
    return PrinterError::Memory;
}

std::string SvgParser::findNodeText(const char* start, const char* end)
{
    return findNodeText(start, end, kMaxNodeLength);
}

std::string SvgParser::findNodeText(const char* start, const char* end, size_t maxLength)
{
    m_failure = Failure::None;
    if (!m_file || m_reader.atEnd())
        return std::string();
    try {
        std::string text;
        bool collecting = false;
        for (;;) {
            // Lines before the element are only passed over: the element's own bound is not theirs.
            switch (m_reader.readLine(m_line, collecting ? std::min(kMaxLineLength, maxLength) : kMaxLineLength)) {
            case LineReader::Result::Line:
                break;
            case LineReader::Result::End:
                return collecting ? readFailure("element cut off by the end of the file") : std::string();
            case LineReader::Result::TooLong:
                return readFailure("line too long");
            case LineReader::Result::Failed:
                return readFailure(strerror(errno));
            }
            const bool first = !collecting;
            if (first) {
                if (!startsWith(m_line, start))
                    continue;
                collecting = true;
            }
            // The text never passes the cap, so the room left cannot wrap.
            const size_t adding = m_line.size() + (first ? 0 : 1);
            if (adding > maxLength - text.size())
                return readFailure("element too long");
            if (!first)
                text += '\n';
            text += m_line;
            if (startsWith(m_line, end))
                return text;
        }
    } catch (const std::exception& e) {
        return readFailure(e.what(), Failure::Memory);
    }
}

std::string SvgParser::nextLayer()
{
    for (;;) {
        const std::string text = findNodeText("<g ", "</g>");
        if (text.empty() || text == PrinterError::Memory)
            return text;
        if (text.find("layer-") == std::string::npos)
            continue;
        if (!xmlFitsRecursiveParser(text.data(), text.size())) {
            logger()->write(LogError, "%s, %d: %s", "nextLayer", __LINE__, "layer nests too deep");
            m_failure = Failure::File;
            return PrinterError::Memory;
        }
        return SVG_HEAD + text + SVG_TAIL;
    }
}

std::string SvgParser::getlayer(unsigned int n)
{
    if (!m_file || m_reader.seek(m_svgOffset) != 0)
        return std::string();
    if (n >= m_params.layerCount) {
        printf("layer(%u) > layerCount", n);
        fflush(stdout);
        return std::string();
    }
    const std::string start = "<g id=\"layer-" + std::to_string(n) + "\"";
    for (;;) {
        const std::string text = findNodeText(start.c_str(), "</g>");
        if (text.empty() || text == PrinterError::Memory) {
            logCheck("std::string SvgParser::getlayer(unsigned int)", __LINE__);
            return std::string();
        }
        if (text.find("layer-") == std::string::npos)
            continue;
        if (!xmlFitsRecursiveParser(text.data(), text.size())) {
            logger()->write(LogError, "%s, %d: %s", "getlayer", __LINE__, "layer nests too deep");
            return std::string();
        }
        return SVG_HEAD + text + SVG_TAIL;
    }
}
