#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct evp_md_ctx_st;

namespace nvupserver {

// An MD5 digest fed block by block.
class Md5Digest
{
public:
    Md5Digest();
    ~Md5Digest();
    Md5Digest(const Md5Digest&) = delete;
    Md5Digest& operator=(const Md5Digest&) = delete;

    bool reset();
    bool update(const void* data, size_t size);
    // Lower-case hexadecimal; empty when the digest failed.
    std::string hex();
    // Restarts from the first `length` bytes of a file; false when they cannot be read.
    bool resetToFile(const std::string& path, long long length);

private:
    evp_md_ctx_st* m_context;
    bool m_ok = false;
};

// Lower-case hexadecimal MD5 of a file; false when it cannot be read.
bool fileMd5Hex(const std::string& path, std::string& hex);

// Digests compared without regard to letter case.
bool sameDigest(const std::string& a, const std::string& b);

} // namespace nvupserver
