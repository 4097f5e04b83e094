#pragma once

#include "engine/slicefile/LineReader.h"
#include "engine/slicefile/SliceParams.h"

#include "base/threads/noncopyable.h"

#include <cstdint>
#include <cstdio>
#include <string>

// Stand-alone documents are built from these around the file's texts.
extern const char* const SVG_HEAD;
extern const char* const SVG_TAIL;
extern const char* const XML_ROOT_HEAD;
extern const char* const XML_ROOT_TAIL;

// Reads an ".svgx" slice file: a 28-byte head (tag text, preview offsets,
// offset of the SVG text), a preview image, then an SVG document read as
// lines. The `printparams` element starts on a line beginning with
// "<printparams " and ends on a line beginning with "</printparams>"; each
// layer is a group whose first line begins with "<g " and names "layer-" and
// whose last line begins with "</g>". Layers are handed out as stand-alone
// SVG documents. One thread at a time.
class SvgParser : noncopyable
{
public:
    // Nothing is opened yet. The size is the callers' historical buffer size;
    // the reader keeps its own.
    SvgParser(const std::string& path, unsigned scratchSize);
    ~SvgParser();

    // Opens the file (a regular file only: never waits on a FIFO) and reads
    // the head and the print parameters: 0, or -1.
    int open();
    // The next layer in file order; empty after the last layer; "00000005"
    // when reading failed (an I/O error, a line or group past its cap, a group
    // cut off by the end of the file, or nesting too deep to render: see
    // lastFailure).
    std::string nextLayer();
    // Layer n, searched from the start; empty when there is none.
    std::string getlayer(unsigned int n);
    // The text of the next element whose first line begins with `start`, up
    // to and including the line that begins with `end`, its lines joined by
    // "\n"; empty at the end of the file; "00000005" when reading failed.
    std::string findNodeText(const char* start, const char* end);

    // Why the last read returned "00000005": the file (damaged, cut off,
    // past a cap, unreadable) or the memory to hold what it read.
    enum class Failure { None, File, Memory };
    Failure lastFailure() const { return m_failure; }

    const SliceParams& sliceParams() const { return m_params; }
    const std::string& tag() const { return m_tag; }

    // Caps on what one read may collect.
    static constexpr size_t kMaxLineLength = 16u << 20;
    static constexpr size_t kMaxNodeLength = 32u << 20;
    // Print parameters are a few hundred bytes.
    static constexpr size_t kMaxParamsLength = 1u << 20;

private:
    int readHead();
    int readPrintParams();
    std::string readFailure(const char* reason, Failure failure = Failure::File);
    std::string findNodeText(const char* start, const char* end, size_t maxLength);

    std::string m_path;
    std::string m_tag;
    SliceParams m_params;
    FILE* m_file = nullptr;
    LineReader m_reader;
    uint32_t m_svgOffset = 0;
    std::string m_line;
    Failure m_failure = Failure::None;
};
