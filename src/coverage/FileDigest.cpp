#include "coverage/FileDigest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A file opened for reading without waiting, as opening a FIFO for reading
// waits for a writer; closed when it goes.
struct ReadOnlyFile
{
    explicit ReadOnlyFile(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
    ~ReadOnlyFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    const int fd;
};

std::string hexOf(EVP_MD_CTX* ctx)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx, digest, &length);
    return FileDigest::hex(digest, length);
}

} // namespace

std::string FileDigest::hex(const unsigned char* bytes, unsigned int length)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * size_t(length));
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[bytes[i] >> 4];
        hex += kHex[bytes[i] & 15];
    }
    return hex;
}

std::string FileDigest::sha256(const std::string& path, std::string& error, const std::function<bool()>& keepGoing)
{
    const ReadOnlyFile file(path);
    const int fd = file.fd;
    if (fd < 0) {
        error = std::strerror(errno);
        return {};
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return {};
    }
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
        error = "no SHA-256";
        return {};
    }
    std::vector<unsigned char> buffer(size_t(1) << 20);
    for (;;) {
        if (keepGoing && !keepGoing()) {
            error = "interrupted";
            return {};
        }
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = std::strerror(errno);
            return {};
        }
        EVP_DigestUpdate(ctx.get(), buffer.data(), size_t(n));
    }
    return hexOf(ctx.get());
}

bool FileDigest::prefixes(const std::string& path, std::vector<uint64_t> lengths, std::map<uint64_t, std::string>& out,
                          std::string& error)
{
    out.clear();
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    const ReadOnlyFile file(path);
    if (file.fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    using Context = std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)>;
    Context ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
        error = "no SHA-256";
        return false;
    }
    std::vector<unsigned char> buffer(size_t(1) << 16);
    uint64_t at = 0;
    for (const uint64_t length : lengths) {
        while (at < length) {
            const ssize_t n = ::pread(file.fd, buffer.data(), size_t(std::min<uint64_t>(buffer.size(), length - at)),
                                      off_t(at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = std::strerror(errno);
                return false;
            }
            if (n == 0)
                return true; // the file is shorter: no longer length has a digest
            EVP_DigestUpdate(ctx.get(), buffer.data(), size_t(n));
            at += uint64_t(n);
        }
        // The digest so far, taken from a copy so that hashing goes on.
        Context copy(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        if (!copy || EVP_MD_CTX_copy_ex(copy.get(), ctx.get()) != 1) {
            error = "no SHA-256";
            return false;
        }
        out[length] = hexOf(copy.get());
    }
    return true;
}
