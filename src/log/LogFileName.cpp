#include "LogFileName.h"

std::string LogFileName::fromText(const std::string& text)
{
    std::string base = text;
    const size_t slash = base.rfind('/');
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        base.erase(dot);
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
