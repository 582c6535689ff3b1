#pragma once

#include <functional>
#include <string>

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
};
