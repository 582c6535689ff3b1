#include "platform/TextFit.h"

#include <gtest/gtest.h>

TEST(TextFit, largestSizeThatFitsButNeverBelowTheFloor)
{
    struct Case
    {
        const char* legend;
        int design, min, available, perPixel; // width = perPixel x size
        int want;
    };
    const Case cases[] = {
        {"fits as designed", 11, 7, 200, 10, 11},
        {"exactly at the design size", 11, 7, 110, 10, 11},
        {"one pixel too wide", 11, 7, 109, 10, 10},
        {"needs two sizes less", 11, 7, 90, 10, 9},
        {"not even at the floor", 11, 7, 10, 10, 7},
        {"floor above the design", 6, 7, 1000, 10, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        int tried = 0;
        EXPECT_EQ(TextFit::pixelSize(c.design, c.min, c.available,
                                     [&](int px) {
                                         ++tried;
                                         return c.perPixel * px;
                                     }),
                  c.want);
        EXPECT_LE(tried, c.design - c.min + 1);
    }
}
