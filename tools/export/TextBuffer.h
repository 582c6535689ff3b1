#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Buffered text output with locale-free number formatting: a decimal point
// whatever LC_NUMERIC says, so a German desktop gets the same file as
// anyone else, and no per-number stdio overhead on a multi-gigabyte CSV.
class TextBuffer
{
public:
    static constexpr size_t kFlushAt = size_t(1) << 16;

    explicit TextBuffer(std::FILE* out) : m_out(out) { m_text.reserve(kFlushAt + 4096); }
    ~TextBuffer() { flush(); }
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    TextBuffer& operator<<(std::string_view text)
    {
        m_text.append(text);
        maybeFlush();
        return *this;
    }
    TextBuffer& operator<<(char c)
    {
        m_text.push_back(c);
        return *this;
    }
    TextBuffer& integer(int64_t value);
    // Fixed notation with the given digits after the point.
    TextBuffer& fixed(double value, int decimals);
    // ISO 8601 UTC with milliseconds, "2004-03-09T12:00:05.500Z".
    TextBuffer& isoTime(int64_t ms);
    // Text inside XML character data or a double-quoted attribute.
    TextBuffer& xml(std::string_view text);

    // Writes what is buffered; false once any write has failed.
    bool flush();
    bool ok() const { return m_ok; }

private:
    void maybeFlush()
    {
        if (m_text.size() >= kFlushAt)
            flush();
    }

    std::FILE* m_out;
    std::string m_text;
    bool m_ok = true;
    // The date and time to the second change far less often than the milliseconds.
    int64_t m_cachedSecond = INT64_MIN;
    char m_cachedText[32] = {};
};
