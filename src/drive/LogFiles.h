#pragma once

#include <functional>
#include <string>
#include <vector>

// The logs a drive tool is given: files as named, folders opened to the
// .KLF files under them, in name order.
class LogFiles
{
public:
    static bool isLogName(const std::string& path);
    // False with a reason when a name does not exist, names neither a folder
    // nor a regular file, or a folder cannot be read; `empty` hears of each
    // folder without a log.
    static bool collect(const std::vector<std::string>& inputs, std::vector<std::string>& logs, std::string& error,
                        const std::function<void(const std::string& folder)>& empty = {});
};
