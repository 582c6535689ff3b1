#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

// Buffered text output with locale-free number formatting: a decimal point
// whatever LC_NUMERIC says, so a German desktop gets the same file as
// anyone else. A 100 MB log becomes some 25 million CSV rows, so numbers are
// formatted by hand into the buffer, with no stdio call per number.
class TextBuffer
{
public:
    static constexpr size_t kFlushAt = size_t(1) << 18;
    static constexpr size_t kMaxNumber = 48; // longest text one number may need
    static constexpr size_t kSize = kFlushAt + 1024;

    explicit TextBuffer(std::FILE* out) : m_out(out), m_buffer(new char[kSize]) {}
    ~TextBuffer() { flush(); }
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    TextBuffer& operator<<(std::string_view text)
    {
        append(text.data(), text.size());
        return *this;
    }
    TextBuffer& operator<<(char c)
    {
        if (m_used == kSize)
            flushBuffer();
        m_buffer[m_used++] = c;
        return *this;
    }
    TextBuffer& integer(int64_t value)
    {
        m_used = size_t(formatInteger(room(kMaxNumber), value) - m_buffer.get());
        return *this;
    }
    // Fixed notation, rounded to the given digits after the point (at most 9).
    TextBuffer& fixed(double value, int decimals)
    {
        m_used = size_t(formatFixed(room(kMaxNumber), value, decimals) - m_buffer.get());
        return *this;
    }
    // The same without trailing zeros after the point (851.0125, 851).
    TextBuffer& shortFixed(double value, int decimals)
    {
        m_used = size_t(formatShortFixed(room(kMaxNumber), value, decimals) - m_buffer.get());
        return *this;
    }
    // ISO 8601 UTC with milliseconds, "2004-03-09T12:00:05.500Z".
    TextBuffer& isoTime(int64_t ms)
    {
        m_used = size_t(formatIsoTime(room(kMaxNumber), ms) - m_buffer.get());
        return *this;
    }
    // Text inside XML character data or a double-quoted attribute.
    TextBuffer& xml(std::string_view text);
    void append(const char* text, size_t n)
    {
        // A row's pieces nearly always fit: one copy, no loop.
        if (kSize - m_used >= n) {
            std::memcpy(m_buffer.get() + m_used, text, n);
            m_used += n;
        } else {
            appendInParts(text, n);
        }
    }

    // For a writer that formats a whole row in place: reserve(n) returns
    // where up to n (at most kSize) characters go; commit(end) keeps them.
    char* reserve(size_t n) { return room(n); }
    void commit(char* end) { m_used = size_t(end - m_buffer.get()); }

    // Each writes at p and returns the end; at most kMaxNumber characters.
    static char* formatInteger(char* p, int64_t value);
    static char* formatFixed(char* p, double value, int decimals);
    static char* formatShortFixed(char* p, double value, int decimals);
    char* formatIsoTime(char* p, int64_t ms);

    // Writes what is buffered; false once any write has failed.
    bool flush();
    bool ok() const { return m_ok; }

private:
    // Room for n more characters; returns where they go.
    char* room(size_t n)
    {
        if (kSize - m_used < n)
            flushBuffer();
        return m_buffer.get() + m_used;
    }
    void flushBuffer();
    void appendInParts(const char* text, size_t n);

    std::FILE* m_out;
    std::unique_ptr<char[]> m_buffer; // kSize bytes, left uninitialised
    size_t m_used = 0;
    bool m_ok = true;
    // The date and time to the second change far less often than the milliseconds.
    int64_t m_cachedSecond = INT64_MIN;
    char m_cachedText[32] = {};
    size_t m_cachedLength = 0;
};
