#pragma once

#include <cstdint>
#include <string>

#include <sys/types.h>

struct evp_md_ctx_st;

// The SHA-256 of a growing file's first bytes, carried on as the file
// grows: a log followed for hours is hashed once, not again at each upload.
// It reads by a descriptor of its own, so the file it was opened on is the
// one hashed even after its name goes elsewhere or away.
class PrefixDigest
{
public:
    PrefixDigest();
    ~PrefixDigest();
    PrefixDigest(const PrefixDigest&) = delete;
    PrefixDigest& operator=(const PrefixDigest&) = delete;

    // The file at path, which must be the one on device and inode (the one
    // a follower has open); false with the reason otherwise.
    bool open(const std::string& path, dev_t device, ino_t inode, std::string& error);
    // The SHA-256 (lower-case hex) of the first n bytes; n never below an
    // earlier call's. False with the reason when the file is shorter.
    bool upTo(uint64_t n, std::string& hex, std::string& error);
    // Of the whole file as it is now, past the last upTo() too.
    bool whole(std::string& hex, std::string& error);
    // Of the first n bytes afresh, whatever was hashed before.
    bool of(uint64_t n, std::string& hex, std::string& error);
    uint64_t hashed() const { return m_hashed; }

private:
    bool feed(evp_md_ctx_st* ctx, uint64_t from, uint64_t to, uint64_t& reached, std::string& error);

    int m_fd = -1;
    evp_md_ctx_st* m_ctx = nullptr;
    uint64_t m_hashed = 0;
};
