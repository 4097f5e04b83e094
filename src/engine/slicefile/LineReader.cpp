#include "engine/slicefile/LineReader.h"

#include <sys/types.h>

#include <cstring>

LineReader::LineReader(size_t bufferSize) : m_buffer(bufferSize) {}

void LineReader::discard()
{
    m_pos = m_length = 0;
    m_atEnd = false;
}

int LineReader::seek(uint64_t offset)
{
    discard();
    if (!m_file)
        return -1;
    clearerr(m_file);
    return fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) == 0 ? 0 : -1;
}

LineReader::Result LineReader::readLine(std::string& line, size_t maxLength)
{
    line.clear();
    if (!m_file)
        return Result::Failed;
    bool any = false;
    for (;;) {
        if (m_pos == m_length) {
            if (m_atEnd)
                return any ? Result::Line : Result::End;
            m_pos = 0;
            m_length = fread(m_buffer.data(), 1, m_buffer.size(), m_file);
            if (m_length == 0) {
                if (ferror(m_file))
                    return Result::Failed;
                m_atEnd = true;
                continue;
            }
        }
        any = true;
        const char* start = m_buffer.data() + m_pos;
        const size_t available = m_length - m_pos;
        const void* newline = memchr(start, '\n', available);
        const size_t take = newline ? static_cast<size_t>(static_cast<const char*>(newline) - start) : available;
        if (take > maxLength - line.size())
            return Result::TooLong;
        line.append(start, take);
        m_pos += newline ? take + 1 : take;
        if (newline)
            return Result::Line;
    }
}
