#include "TextEscape.h"

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes the code point at text[i], advancing i past it. An invalid
// sequence gives U+FFFD and consumes only its maximal subpart: the lead and
// the continuation bytes that could still have begun a valid sequence.
char32_t next(std::string_view text, size_t& i)
{
    const auto byte = [&](size_t k) { return uint8_t(text[k]); };
    const uint8_t lead = byte(i++);
    if (lead < 0x80)
        return lead;
    int more = 0;
    char32_t cp = 0;
    uint8_t low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0; // overlong below
        else if (lead == 0xED)
            high = 0x9F; // surrogates above
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        cp = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90; // overlong below
        else if (lead == 0xF4)
            high = 0x8F; // beyond U+10FFFF above
    } else {
        return kReplacement; // a continuation byte, an overlong lead or past Unicode
    }
    for (int k = 0; k < more; ++k) {
        if (i >= text.size())
            return kReplacement;
        const uint8_t b = byte(i);
        if (b < low || b > high)
            return kReplacement; // b is not consumed: it may start the next character
        low = 0x80;
        high = 0xBF;
        cp = cp << 6 | (b & 0x3F);
        ++i;
    }
    return cp;
}

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | cp >> 6);
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | cp >> 12);
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | cp >> 18);
        out += char(0x80 | (cp >> 12 & 0x3F));
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// One UTF-16 code unit as \uXXXX.
void appendU16(std::string& out, unsigned unit)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += kHex[unit >> shift & 0xF];
}

} // namespace

std::string TextEscape::validUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();)
        appendUtf8(out, next(text, i));
    return out;
}

std::string TextEscape::json(std::string_view text)
{
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size();) {
        const char32_t cp = next(text, i);
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += char(cp);
        } else if (cp >= 0x20 && cp < 0x7F) {
            out += char(cp);
        } else if (cp < 0x10000) {
            appendU16(out, unsigned(cp));
        } else {
            const char32_t v = cp - 0x10000;
            appendU16(out, unsigned(0xD800 + (v >> 10)));
            appendU16(out, unsigned(0xDC00 + (v & 0x3FF)));
        }
    }
    return out + "\"";
}

std::string TextEscape::xml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const char32_t cp = next(text, i);
        switch (cp) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            if ((cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0xFFFE || cp == 0xFFFF)
                break;
            appendUtf8(out, cp);
        }
    }
    return out;
}
