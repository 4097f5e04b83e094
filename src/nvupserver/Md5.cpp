#include "nvupserver/Md5.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
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

bool descriptorMd5Hex(int fd, std::string& hex, long long& length)
{
    Md5Digest digest;
    std::vector<unsigned char> block(1 << 20);
    length = 0;
    for (;;) {
        const ssize_t got = pread(fd, block.data(), block.size(), static_cast<off_t>(length));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        if (!digest.update(block.data(), static_cast<size_t>(got)))
            return false;
        length += got;
    }
    hex = digest.hex();
    return !hex.empty();
}

bool fileMd5Hex(const std::string& path, std::string& hex)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    long long length = 0;
    const bool read = descriptorMd5Hex(fd, hex, length);
    close(fd);
    return read;
}

bool sameDigest(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

} // namespace nvupserver
