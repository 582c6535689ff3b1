#include "drive/LogFiles.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

bool LogFiles::isLogName(const std::string& path)
{
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".klf";
}

bool LogFiles::collect(const std::vector<std::string>& inputs, std::vector<std::string>& logs, std::string& error,
                       const std::function<void(const std::string& folder)>& empty)
{
    for (const std::string& input : inputs) {
        std::error_code ec;
        const fs::file_status st = fs::status(input, ec);
        if (ec || !fs::exists(st)) {
            error = "cannot open " + input + ": " + (ec ? ec.message() : std::string("No such file or directory"));
            return false;
        }
        if (!fs::is_directory(st)) {
            // A device never ends, and a FIFO waits for a writer.
            if (!fs::is_regular_file(st)) {
                error = input + ": not a regular file, so not a log";
                return false;
            }
            logs.push_back(input);
            continue;
        }
        std::vector<std::string> found;
        for (fs::recursive_directory_iterator it(input, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end; it.increment(ec))
            if (it->is_regular_file(ec) && isLogName(it->path().string()))
                found.push_back(it->path().string());
        if (ec) {
            error = "cannot read " + input + ": " + ec.message();
            return false;
        }
        std::sort(found.begin(), found.end());
        if (found.empty() && empty)
            empty(input);
        logs.insert(logs.end(), found.begin(), found.end());
    }
    return true;
}
