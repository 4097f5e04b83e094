#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Reads a file as lines separated by "\n" (not kept), through its own buffer,
// with a cap on the length of a line. A last line without a line break is
// still a line.
class LineReader
{
public:
    enum class Result { Line, End, TooLong, Failed };

    explicit LineReader(size_t bufferSize = 64 * 1024);

    void setFile(FILE* file) { m_file = file; discard(); }
    // Moves to `offset` and drops what was buffered: 0 or -1.
    int seek(uint64_t offset);
    bool atEnd() const { return m_atEnd && m_pos == m_length; }

    // On TooLong the line is left part-read.
    Result readLine(std::string& line, size_t maxLength);

private:
    void discard();

    FILE* m_file = nullptr;
    std::vector<char> m_buffer;
    size_t m_pos = 0;
    size_t m_length = 0;
    bool m_atEnd = false;
};
