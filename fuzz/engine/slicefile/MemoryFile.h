#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The fuzz input as a file that readers open by path, kept in memory.
class MemoryFile
{
public:
    MemoryFile();
    // Replaces the content; returns the path to open.
    const std::string& write(const uint8_t* data, size_t size);

private:
    int m_fd = -1;
    std::string m_path;
};
