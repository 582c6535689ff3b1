#include "TextBuffer.h"

#include "platform/TextEscape.h"

#include "platform/UtcTime.h"

#include <charconv>
#include <cmath>

namespace {

constexpr int64_t kPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};
constexpr char kDigitPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                               "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                               "8081828384858687888990919293949596979899";

} // namespace

char* TextBuffer::formatInteger(char* p, int64_t value)
{
    return std::to_chars(p, p + 24, value).ptr;
}

char* TextBuffer::formatFixed(char* p, double value, int decimals)
{
    if (!std::isfinite(value))
        value = 0.0;
    decimals = decimals < 0 ? 0 : decimals > 9 ? 9 : decimals;
    const double scaled = value * double(kPowers[decimals]);
    // Within 2^53 the scaled value is an exact integer after rounding.
    if (std::fabs(scaled) >= 9.0e15)
        return std::to_chars(p, p + kMaxNumber, value, std::chars_format::fixed, decimals).ptr;
    // llround without the library call: the fraction is exact, and a half
    // rounds away from zero as llround does.
    int64_t v = int64_t(scaled);
    const double rest = scaled - double(v);
    if (rest >= 0.5)
        ++v;
    else if (rest <= -0.5)
        --v;
    if (v < 0) { // a value that rounds to zero prints without a sign
        *p++ = '-';
        v = -v;
    }
    const uint64_t power = uint64_t(kPowers[decimals]);
    p = std::to_chars(p, p + 20, uint64_t(v) / power).ptr;
    if (decimals > 0) {
        *p++ = '.';
        // Two digits at a time from the right: half the divisions.
        uint32_t frac = uint32_t(uint64_t(v) % power);
        char* q = p + decimals;
        int left = decimals;
        for (; left >= 2; left -= 2) {
            q -= 2;
            std::memcpy(q, kDigitPairs + 2 * (frac % 100), 2);
            frac /= 100;
        }
        if (left > 0)
            *--q = char('0' + frac);
        p += decimals;
    }
    return p;
}

char* TextBuffer::formatShortFixed(char* p, double value, int decimals)
{
    char* const start = p;
    char* end = formatFixed(p, value, decimals);
    char* dot = static_cast<char*>(std::memchr(start, '.', size_t(end - start)));
    if (!dot)
        return end;
    while (end > dot + 1 && end[-1] == '0')
        --end;
    return end == dot + 1 ? dot : end;
}

char* TextBuffer::formatIsoTime(char* p, int64_t ms)
{
    int64_t second = ms / 1000;
    int64_t milli = ms % 1000;
    if (milli < 0) {
        milli += 1000;
        --second;
    }
    if (second != m_cachedSecond) {
        m_cachedSecond = second;
        // Without the milliseconds and the Z: "2004-03-09T12:00:05."
        m_cachedLength = size_t(UtcTime::iso8601(second * 1000, m_cachedText)) - 4;
    }
    std::memcpy(p, m_cachedText, m_cachedLength);
    p += m_cachedLength;
    *p++ = char('0' + milli / 100);
    *p++ = char('0' + milli / 10 % 10);
    *p++ = char('0' + milli % 10);
    *p++ = 'Z';
    return p;
}

void TextBuffer::appendInParts(const char* text, size_t n)
{
    while (n > 0) {
        if (m_used == kSize)
            flushBuffer();
        const size_t take = std::min(n, kSize - m_used);
        std::memcpy(m_buffer.get() + m_used, text, take);
        m_used += take;
        text += take;
        n -= take;
    }
}

TextBuffer& TextBuffer::xml(std::string_view text)
{
    return *this << TextEscape::xml(text);
}

void TextBuffer::flushBuffer()
{
    if (m_used > 0 && m_ok && std::fwrite(m_buffer.get(), 1, m_used, m_out) != m_used)
        m_ok = false;
    m_used = 0;
}

bool TextBuffer::flush()
{
    flushBuffer();
    if (m_ok && std::fflush(m_out) != 0)
        m_ok = false;
    return m_ok;
}
