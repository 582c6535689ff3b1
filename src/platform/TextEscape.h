#pragma once

#include <string>
#include <string_view>

// Texts from outside (file names, bytes of the device or the map block) as
// they may be written into JSON and XML. Such texts are not always UTF-8: an
// invalid sequence becomes U+FFFD, one per maximal invalid subpart (as the
// Unicode standard recommends), so every reader accepts the output and
// still sees where a byte was lost.
class TextEscape
{
public:
    // text with every invalid UTF-8 sequence replaced by U+FFFD.
    static std::string validUtf8(std::string_view text);

    // A JSON string literal, quotes included, of pure ASCII: everything
    // outside printable ASCII is a \u escape, so a terminal shown the output
    // never receives a control sequence.
    static std::string json(std::string_view text);

    // Text for an XML 1.0 element or attribute value: markup characters as
    // entities; the characters XML 1.0 forbids (controls other than tab,
    // newline and carriage return, U+FFFE, U+FFFF) left out.
    static std::string xml(std::string_view text);
};
