#include "coverage/FileDigest.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

std::string FileDigest::sha256(const std::string& path, std::string& error)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) {
        error = std::strerror(errno);
        return {};
    }
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
        error = "no SHA-256";
        return {};
    }
    std::vector<unsigned char> buffer(size_t(1) << 20);
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f.get())) > 0)
        EVP_DigestUpdate(ctx.get(), buffer.data(), n);
    if (std::ferror(f.get())) {
        error = std::strerror(errno);
        return {};
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx.get(), digest, &length);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}
