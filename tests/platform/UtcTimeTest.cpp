#include "platform/UtcTime.h"

#include <gtest/gtest.h>

namespace {

TEST(UtcTime, CivilFieldsAndIsoText)
{
    struct Case { int y, mo, d, h, mi, s; bool ok; const char* iso; };
    const Case cases[] = {
        {2004, 3, 9, 12, 0, 5, true, "2004-03-09T12:00:05.000Z"},
        {1970, 1, 1, 0, 0, 0, true, "1970-01-01T00:00:00.000Z"},
        {2004, 2, 29, 23, 59, 59, true, "2004-02-29T23:59:59.000Z"},
        {2016, 12, 31, 23, 59, 60, true, "2017-01-01T00:00:00.000Z"},
        {1969, 12, 31, 23, 59, 59, true, "1969-12-31T23:59:59.000Z"},
        {2100, 2, 29, 0, 0, 0, false, ""},
        {2004, 13, 1, 0, 0, 0, false, ""},
        {2004, 4, 31, 0, 0, 0, false, ""},
        {2004, 0, 1, 0, 0, 0, false, ""},
        {2004, 1, 1, 24, 0, 0, false, ""},
        {2000, 2, 29, 0, 0, 0, true, "2000-02-29T00:00:00.000Z"},
        {1900, 2, 29, 0, 0, 0, false, ""},
        {1600, 3, 1, 0, 0, 0, true, "1600-03-01T00:00:00.000Z"},
        {9999, 12, 31, 23, 59, 59, true, "9999-12-31T23:59:59.000Z"},
        {2004, 6, 0, 0, 0, 0, false, ""},
        {2004, 6, 1, 0, -1, 0, false, ""},
        {2004, 6, 1, 0, 0, 61, false, ""},
        {70000, 1, 1, 0, 0, 0, false, ""},
    };
    for (const Case& c : cases) {
        int64_t ms = 0;
        SCOPED_TRACE(c.iso);
        ASSERT_EQ(UtcTime::fromCivil(c.y, c.mo, c.d, c.h, c.mi, c.s, ms), c.ok);
        if (c.ok) {
            EXPECT_EQ(UtcTime::iso8601(ms), c.iso);
        }
    }
    int64_t ms = 0;
    UtcTime::fromCivil(2004, 3, 9, 12, 0, 5, ms);
    EXPECT_EQ(UtcTime::iso8601(ms + 500), "2004-03-09T12:00:05.500Z");
    EXPECT_EQ(UtcTime::iso8601(-1), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(UtcTime::iso8601(-86400000), "1969-12-31T00:00:00.000Z");
}

} // namespace
