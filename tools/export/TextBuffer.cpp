#include "TextBuffer.h"

#include "drive/UtcTime.h"

#include <charconv>
#include <cmath>
#include <cstring>

TextBuffer& TextBuffer::integer(int64_t value)
{
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, value);
    m_text.append(digits, r.ptr);
    maybeFlush();
    return *this;
}

TextBuffer& TextBuffer::fixed(double value, int decimals)
{
    if (!std::isfinite(value))
        value = 0.0;
    char digits[64];
    const auto r = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    m_text.append(digits, r.ptr);
    maybeFlush();
    return *this;
}

TextBuffer& TextBuffer::isoTime(int64_t ms)
{
    int64_t second = ms / 1000;
    int64_t milli = ms % 1000;
    if (milli < 0) {
        milli += 1000;
        --second;
    }
    if (second != m_cachedSecond) {
        m_cachedSecond = second;
        UtcTime::iso8601(second * 1000, m_cachedText);
    }
    // "YYYY-MM-DDTHH:MM:SS." then the milliseconds and Z.
    const size_t head = std::strlen(m_cachedText) - 4;
    m_text.append(m_cachedText, head);
    const char tail[4] = {char('0' + milli / 100), char('0' + milli / 10 % 10), char('0' + milli % 10), 'Z'};
    m_text.append(tail, 4);
    maybeFlush();
    return *this;
}

TextBuffer& TextBuffer::xml(std::string_view text)
{
    for (char c : text) {
        switch (c) {
        case '&': m_text.append("&amp;"); break;
        case '<': m_text.append("&lt;"); break;
        case '>': m_text.append("&gt;"); break;
        case '"': m_text.append("&quot;"); break;
        default:
            // Control characters other than tab and newline are not allowed in XML 1.0.
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n')
                m_text.push_back(c);
        }
    }
    maybeFlush();
    return *this;
}

bool TextBuffer::flush()
{
    if (!m_text.empty()) {
        if (m_ok && std::fwrite(m_text.data(), 1, m_text.size(), m_out) != m_text.size())
            m_ok = false;
        m_text.clear();
    }
    if (m_ok && std::fflush(m_out) != 0)
        m_ok = false;
    return m_ok;
}
