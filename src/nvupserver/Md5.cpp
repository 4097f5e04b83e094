#include "nvupserver/Md5.h"

#include <openssl/evp.h>

#include <strings.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace nvupserver {

bool fileMd5Hex(const std::string& path, std::string& hex)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "rb"), fclose);
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!file || !context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1)
        return false;
    std::vector<unsigned char> block(1 << 20);
    size_t got;
    while ((got = fread(block.data(), 1, block.size(), file.get())) > 0)
        if (EVP_DigestUpdate(context.get(), block.data(), got) != 1)
            return false;
    if (ferror(file.get()))
        return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return false;
    static const char kDigits[] = "0123456789abcdef";
    hex.clear();
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 15];
    }
    return true;
}

bool sameDigest(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

} // namespace nvupserver
