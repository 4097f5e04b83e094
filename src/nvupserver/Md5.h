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

private:
    evp_md_ctx_st* m_context;
    bool m_ok = false;
};

// Lower-case hexadecimal MD5 of a file; false when it cannot be read.
bool fileMd5Hex(const std::string& path, std::string& hex);
// The same of what an open file holds from its start to its end, and how many
// bytes that is; false when it cannot be read.
bool descriptorMd5Hex(int fd, std::string& hex, long long& length);

// Digests compared without regard to letter case.
bool sameDigest(const std::string& a, const std::string& b);

} // namespace nvupserver
