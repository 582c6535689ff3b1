#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// The SHA-256 of a file's bytes, as lower-case hex: how a log already in a
// coverage map is known again, under any name.
class FileDigest
{
public:
    // Empty when the file cannot be read, is not a regular file (a device
    // or a FIFO would never end, or wait for a writer), or keepGoing said
    // no between two reads; error says why.
    static std::string sha256(const std::string& path, std::string& error,
                              const std::function<bool()>& keepGoing = {});
    // The SHA-256 of the file's first n bytes for each n of lengths, in one
    // read; a length past the end of the file has none. False with the
    // reason when the file cannot be read.
    static bool prefixes(const std::string& path, std::vector<uint64_t> lengths, std::map<uint64_t, std::string>& out,
                         std::string& error);
    // A digest's bytes as the lower-case hex the maps store.
    static std::string hex(const unsigned char* bytes, unsigned int length);
};
