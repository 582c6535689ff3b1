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

    // Why the text cannot name a log file, or empty when it can: no name
    // before the extension (which would make a hidden file such as ".KLF"),
    // or a folder or file name longer than the file system takes.
    static std::string problem(const std::string& text);
    static constexpr size_t kMaxComponentBytes = 255;
    static constexpr const char* kNoName = "Log File Needs A Name!!";
    static constexpr const char* kTooLong = "Log File Name Too Long (255 Bytes At Most Per Folder Or File)!!";
};
