#include "coverage/PrefixDigest.h"

#include "coverage/FileDigest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Finishes a copy, so that ctx goes on.
std::string hexOf(const EVP_MD_CTX* ctx)
{
    EVP_MD_CTX* copy = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD_CTX_copy_ex(copy, ctx);
    EVP_DigestFinal_ex(copy, digest, &length);
    EVP_MD_CTX_free(copy);
    return FileDigest::hex(digest, length);
}

} // namespace

PrefixDigest::PrefixDigest() : m_ctx(EVP_MD_CTX_new())
{
    EVP_DigestInit_ex(m_ctx, EVP_sha256(), nullptr);
}

PrefixDigest::~PrefixDigest()
{
    if (m_fd >= 0)
        ::close(m_fd);
    EVP_MD_CTX_free(m_ctx);
}

bool PrefixDigest::open(const std::string& path, dev_t device, ino_t inode, std::string& error)
{
    if (m_fd >= 0)
        ::close(m_fd);
    EVP_DigestInit_ex(m_ctx, EVP_sha256(), nullptr);
    m_hashed = 0;
    m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st{};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (st.st_dev != device || st.st_ino != inode) {
        error = "another file is at the name now";
        return false;
    }
    return true;
}

bool PrefixDigest::feed(EVP_MD_CTX* ctx, uint64_t from, uint64_t to, uint64_t& reached, std::string& error)
{
    std::vector<unsigned char> buffer(size_t(1) << 16);
    reached = from;
    while (reached < to) {
        const size_t want = size_t(std::min<uint64_t>(buffer.size(), to - reached));
        const ssize_t n = ::pread(m_fd, buffer.data(), want, off_t(reached));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (n == 0)
            break;
        EVP_DigestUpdate(ctx, buffer.data(), size_t(n));
        reached += uint64_t(n);
    }
    return true;
}

bool PrefixDigest::upTo(uint64_t n, std::string& hex, std::string& error)
{
    if (m_fd < 0 || n < m_hashed) {
        error = m_fd < 0 ? "no file open" : "already hashed past byte " + std::to_string(n);
        return false;
    }
    uint64_t reached = m_hashed;
    const bool read = feed(m_ctx, m_hashed, n, reached, error);
    m_hashed = reached;
    if (!read)
        return false;
    if (reached < n) {
        error = "shorter than " + std::to_string(n) + " bytes";
        return false;
    }
    hex = hexOf(m_ctx);
    return true;
}

bool PrefixDigest::whole(std::string& hex, std::string& error)
{
    if (m_fd < 0) {
        error = "no file open";
        return false;
    }
    struct stat st{};
    if (::fstat(m_fd, &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    EVP_MD_CTX* rest = EVP_MD_CTX_new();
    EVP_MD_CTX_copy_ex(rest, m_ctx);
    uint64_t reached = 0;
    // To the end as it is now: what the logger appends meanwhile is the
    // next upload's, as it would be a later one-shot run's.
    const bool read = feed(rest, m_hashed, uint64_t(st.st_size), reached, error);
    if (read)
        hex = hexOf(rest);
    EVP_MD_CTX_free(rest);
    return read;
}

bool PrefixDigest::of(uint64_t n, std::string& hex, std::string& error)
{
    if (m_fd < 0) {
        error = "no file open";
        return false;
    }
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    uint64_t reached = 0;
    bool read = feed(ctx, 0, n, reached, error);
    if (read && reached < n) {
        error = "shorter than " + std::to_string(n) + " bytes";
        read = false;
    }
    if (read)
        hex = hexOf(ctx);
    EVP_MD_CTX_free(ctx);
    return read;
}
