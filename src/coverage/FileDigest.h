#pragma once

#include <string>

// The SHA-256 of a file's bytes, as lower-case hex: how a log already in a
// coverage map is known again, under any name.
class FileDigest
{
public:
    // Empty when the file cannot be read; error says why.
    static std::string sha256(const std::string& path, std::string& error);
};
