#include "MemoryFile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

MemoryFile::MemoryFile()
{
    m_fd = memfd_create("fuzz-input", 0);
    if (m_fd < 0) {
        perror("memfd_create");
        abort();
    }
    m_path = "/proc/self/fd/" + std::to_string(m_fd);
}

const std::string& MemoryFile::write(const uint8_t* data, size_t size)
{
    if (ftruncate(m_fd, 0) != 0 || (size && pwrite(m_fd, data, size, 0) != static_cast<ssize_t>(size)))
        abort();
    return m_path;
}
