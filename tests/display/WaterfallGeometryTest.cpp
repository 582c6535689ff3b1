#include "display/WaterfallGeometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

TEST(WaterfallGeometry, everyColumnIsShownAndEveryPixelShowsAColumn)
{
    struct Case
    {
        int width, columns;
    };
    const Case cases[] = {{600, 10}, {600, 1}, {7, 3}, {600, 3072}, {100, 101}, {640, 640}, {1, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " px, " << c.columns << " columns");
        const WaterfallGeometry g(c.width, c.columns);
        std::vector<int> shown(std::size_t(c.columns), 0);
        int previousLast = -1;
        for (int x = 0; x < c.width; ++x) {
            const int first = g.firstColumnAt(x), last = g.lastColumnAt(x);
            ASSERT_LE(0, first);
            ASSERT_LE(first, last);
            ASSERT_LT(last, c.columns);
            // Left to right, no column skipped between neighbours.
            ASSERT_LE(first, previousLast + 1);
            ASSERT_GE(first, std::max(previousLast, 0));
            previousLast = last;
            for (int k = first; k <= last; ++k)
                ++shown[std::size_t(k)];
            // Pointing names a column the pixel shows.
            EXPECT_GE(g.columnAt(x), first);
            EXPECT_LE(g.columnAt(x), last);
        }
        EXPECT_EQ(previousLast, c.columns - 1);
        for (int k = 0; k < c.columns; ++k)
            EXPECT_GE(shown[std::size_t(k)], 1) << "column " << k;
        // Pointing finds the column drawn around its centre.
        for (int k = 0; k < c.columns && c.columns <= c.width; ++k)
            EXPECT_EQ(g.columnAt(int(g.centre(k))), k);
        EXPECT_EQ(g.columnAt(-1), -1);
        EXPECT_EQ(g.columnAt(c.width), -1);
    }
}

TEST(WaterfallGeometry, labelsAreSpacedAtLeastTheirWidth)
{
    struct Case
    {
        int width, columns, labelWidth, stride;
    };
    const Case cases[] = {{600, 10, 14, 1}, {600, 10, 60, 1}, {600, 10, 61, 2}, {600, 3072, 14, 72}, {600, 1, 500, 1}};
    for (const Case& c : cases)
        EXPECT_EQ(WaterfallGeometry(c.width, c.columns).labelStride(c.labelWidth), c.stride)
            << c.width << " " << c.columns << " " << c.labelWidth;
}
