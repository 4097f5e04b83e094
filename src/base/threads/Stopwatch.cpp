#include "base/threads/Stopwatch.h"

#include "base/platform/Platform.h"

Stopwatch::Stopwatch() : m_start(read()), m_latest(m_start) {}

timeval Stopwatch::read()
{
    const timespec now = platform().clock().now();
    timeval tv{};
    tv.tv_sec = now.tv_sec;
    tv.tv_usec = now.tv_nsec / 1000;
    return tv;
}

void Stopwatch::start()
{
    m_start = read();
}

int64_t Stopwatch::elapsedSec()
{
    m_latest = read();
    return static_cast<int64_t>(m_latest.tv_sec) - m_start.tv_sec;
}

int64_t Stopwatch::elapsedMs()
{
    m_latest = read();
    const int64_t seconds = static_cast<int64_t>(m_latest.tv_sec) - m_start.tv_sec;
    if (m_latest.tv_usec >= m_start.tv_usec)
        return seconds * 1000 + (m_latest.tv_usec - m_start.tv_usec) / 1000;
    return (seconds - 1) * 1000 + (m_latest.tv_usec + 1000000 - m_start.tv_usec) / 1000;
}
