#include "platform/TextEscape.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kFffd = "\xEF\xBF\xBD";

struct Case
{
    const char* legend;
    std::string in;
    std::string out;
};

} // namespace

TEST(TextEscape, invalidUtf8BecomesOneReplacementPerMaximalSubpart)
{
    const Case cases[] = {
        {"ASCII", "Tavrix.KLF", "Tavrix.KLF"},
        {"two, three and four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x93\xA1", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x93\xA1"},
        {"Latin-1 byte", "caf\xE9.KLF", "caf" + kFffd + ".KLF"},
        {"lone continuation", "a\x80z", "a" + kFffd + "z"},
        {"truncated three-byte, then ASCII", "\xE2\x82z", kFffd + "z"},
        {"truncated at the end", "a\xF0\x9F\x93", "a" + kFffd},
        {"overlong two-byte lead", "\xC0\xAF", kFffd + kFffd},
        {"overlong three-byte", "\xE0\x80\xAF", kFffd + kFffd + kFffd},
        {"surrogate", "\xED\xA0\x80", kFffd + kFffd + kFffd},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},
        {"F5 and FF leads", "\xF5\xFF", kFffd + kFffd},
        {"a lead cut by another lead", "\xC3\xC3\xA9", kFffd + "\xC3\xA9"},
        {"largest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"NUL kept", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextEscape::validUtf8(c.in), c.out) << c.legend;
}

TEST(TextEscape, jsonIsPureAsciiAndReadsBackAsTheValidText)
{
    const Case cases[] = {
        {"plain", "R1 scan", "\"R1 scan\""},
        {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
        {"controls and DEL", "\t\n\x1B[2J\x7F", "\"\\u0009\\u000a\\u001b[2J\\u007f\""},
        {"non-ASCII as \\u", "caf\xC3\xA9", "\"caf\\u00e9\""},
        {"C1 control", "\xC2\x9B", "\"\\u009b\""},
        {"beyond the BMP as a surrogate pair", "\xF0\x9F\x93\xA1", "\"\\ud83d\\udce1\""},
        {"invalid byte", "caf\xE9", "\"caf\\ufffd\""},
        {"empty", "", "\"\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextEscape::json(c.in), c.out) << c.legend;
}

TEST(TextEscape, xmlHasEntitiesForMarkupAndNothingXmlForbids)
{
    const Case cases[] = {
        {"markup", "d<&>\"'", "d&lt;&amp;&gt;&quot;'"},
        {"allowed whitespace", "a\tb\nc\rd", "a\tb\nc\rd"},
        {"forbidden controls dropped", "a\x01\x1B\x1F" "b", "ab"},
        {"U+FFFE and U+FFFF dropped", "a\xEF\xBF\xBE\xEF\xBF\xBF" "b", "ab"},
        {"UTF-8 kept", "M\xC3\xBCnchen", "M\xC3\xBCnchen"},
        {"invalid byte replaced", "log\xE9.KLF", "log" + kFffd + ".KLF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextEscape::xml(c.in), c.out) << c.legend;
}
