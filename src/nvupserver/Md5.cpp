#include "nvupserver/Md5.h"

#include <openssl/evp.h>

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace nvupserver {

Md5Digest::Md5Digest() : m_context(EVP_MD_CTX_new())
{
    reset();
}

Md5Digest::~Md5Digest()
{
    EVP_MD_CTX_free(m_context);
}

bool Md5Digest::reset()
{
    m_ok = m_context && EVP_DigestInit_ex(m_context, EVP_md5(), nullptr) == 1;
    return m_ok;
}

bool Md5Digest::update(const void* data, size_t size)
{
    m_ok = m_ok && EVP_DigestUpdate(m_context, data, size) == 1;
    return m_ok;
}

std::string Md5Digest::hex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_ok || EVP_DigestFinal_ex(m_context, digest, &length) != 1)
        return std::string();
    m_ok = false;
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 15];
    }
    return text;
}

bool Md5Digest::resetToFile(const std::string& path, long long length)
{
    if (!reset())
        return false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "rb"), fclose);
    if (!file)
        return false;
    std::vector<unsigned char> block(1 << 20);
    while (length > 0) {
        const size_t want = static_cast<size_t>(std::min<long long>(length, static_cast<long long>(block.size())));
        const size_t got = fread(block.data(), 1, want, file.get());
        if (got == 0 || !update(block.data(), got))
            return false;
        length -= static_cast<long long>(got);
    }
    return true;
}

bool fileMd5Hex(const std::string& path, std::string& hex)
{
    struct stat status;
    Md5Digest digest;
    if (stat(path.c_str(), &status) != 0 || !digest.resetToFile(path, status.st_size))
        return false;
    hex = digest.hex();
    return !hex.empty();
}

bool sameDigest(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

} // namespace nvupserver
