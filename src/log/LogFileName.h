#pragma once

#include <string>

// Turns the text of the log file edit into the name of the log file: the
// extension of the last path component, if any, becomes ".KLF". A '.' in a
// folder name is not an extension, so "/data.set/run" stays in /data.set.
class LogFileName
{
public:
    static constexpr size_t kMaxLength = 511;
    static constexpr char kExtension[] = ".KLF";

    // At most kMaxLength characters: an overlong base is shortened so that the
    // extension always survives.
    static std::string fromText(const std::string& text);
};
