#include "LogFileName.h"

namespace {
std::string stripped(const std::string& text)
{
    std::string base = text;
    const size_t slash = base.rfind('/');
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        base.erase(dot);
    return base;
}
} // namespace

std::string LogFileName::fromText(const std::string& text)
{
    std::string base = stripped(text);
    const size_t room = kMaxLength - (sizeof kExtension - 1);
    if (base.size() > room) {
        base.resize(room);
        // Do not leave half of a multi-byte UTF-8 character behind.
        while (!base.empty() && (static_cast<unsigned char>(base.back()) & 0xC0) == 0x80)
            base.pop_back();
        if (!base.empty() && (static_cast<unsigned char>(base.back()) & 0x80))
            base.pop_back();
    }
    return base + kExtension;
}

std::string LogFileName::problem(const std::string& text)
{
    const std::string name = fromText(text);
    const size_t slash = name.rfind('/');
    const std::string last = name.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::string stem = last.substr(0, last.size() - (sizeof kExtension - 1));
    if (stem.find_first_not_of('.') == std::string::npos)
        return kNoName;
    // fromText cuts an overlong name to fit; refuse it rather than log under
    // a name the user did not type.
    if (name.size() < stripped(text).size() + (sizeof kExtension - 1))
        return kTooLong;
    size_t start = 0;
    for (size_t end; (end = name.find('/', start)) != std::string::npos; start = end + 1) {
        if (end - start > kMaxComponentBytes)
            return kTooLong;
    }
    return name.size() - start > kMaxComponentBytes ? kTooLong : std::string();
}
