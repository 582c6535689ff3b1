#include "display/DBarGeometry.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The receiver graph's value range on a control of the given size.
DBarGeometry receiverGeometry(int width, int height, double xMax = 2.0)
{
    DBarGeometry g;
    g.xMin = 0.0;
    g.xMax = xMax;
    g.yBottom = -120.0;
    g.yTop = -30.0;
    g.computeLayout(0, 0, width, height);
    return g;
}

} // namespace

TEST(DBarGeometry, layoutOf610By405)
{
    const DBarGeometry g = receiverGeometry(610, 405);
    EXPECT_EQ(g.plotRect, (DBarGeometry::Rect{91, 60, 518, 344}));
    EXPECT_EQ(g.plotWidth, 427);
    EXPECT_EQ(g.plotHeight, 284);
    EXPECT_EQ(g.outerRect, (DBarGeometry::Rect{0, 0, 610, 405}));
    EXPECT_EQ(g.bitmapRect, (DBarGeometry::Rect{0, 0, 427, 284}));
    EXPECT_EQ(g.leftScaleRect, (DBarGeometry::Rect{45, 46, 90, 358}));
    EXPECT_EQ(g.rightScaleRect, (DBarGeometry::Rect{519, 46, 564, 358}));
    EXPECT_EQ(g.xScaleRect, (DBarGeometry::Rect{49, 352, 560, 377}));
    EXPECT_EQ(g.readoutRect, (DBarGeometry::Rect{91, 46, 518, 59}));
    EXPECT_EQ(g.markerAboveRect, (DBarGeometry::Rect{81, 46, 528, 59}));
    EXPECT_EQ(g.markerRightRect, (DBarGeometry::Rect{519, 59, 610, 345}));
    EXPECT_DOUBLE_EQ(g.yScale, -90.0 / 284);
}

TEST(DBarGeometry, scaleFontTrialsRunFromTwelfthToTwentySecond)
{
    const DBarGeometry g = receiverGeometry(610, 405);
    std::vector<int> tried;
    // Too wide at every height: all six trials, the last height stays.
    const auto wide = g.fitScaleFont([&](int h) { tried.push_back(h); return 1000; });
    EXPECT_EQ(tried, (std::vector<int>{23, 20, 17, 15, 14, 12}));
    EXPECT_EQ(wide.height, 284 / 22);

    // Fits at once: label x = PL - width - 4, right of the margin's middle (45).
    const auto narrow = g.fitScaleFont([](int) { return 40; });
    EXPECT_EQ(narrow.height, 23);
    EXPECT_EQ(narrow.x, 91 - 40 - 4);

    // Fits from the third trial on.
    const auto third = g.fitScaleFont([](int h) { return h >= 18 ? 60 : 30; });
    EXPECT_EQ(third.height, 17);
    EXPECT_EQ(third.x, 57);
}

TEST(DBarGeometry, scaleFontLeavesRoomForTheValueCaptionFirst)
{
    const DBarGeometry g = receiverGeometry(343, 453); // side by side: PL 51, PH 318
    const auto width = [](int h) { return 3 * h; };
    // PH/22 = 14 gives x 5, left of the margin's middle (25): as designed
    // when nothing needs the room.
    EXPECT_EQ(g.fitScaleFont(width).height, 14);
    EXPECT_EQ(g.fitScaleFont(width).x, 5);
    // A caption up to column 19: the font shrinks until the labels start there.
    const auto clear = g.fitScaleFont(width, 20);
    EXPECT_EQ(clear.height, 9);
    EXPECT_EQ(clear.x, 51 - 27 - 4);
    // Never below five pixels, even if the labels still do not clear it.
    const auto tight = g.fitScaleFont(width, 45);
    EXPECT_EQ(tight.height, 5);
    EXPECT_LT(tight.x, 45);
    // The labels as drawn ("-120", not "-120.0") decide how far it shrinks.
    const auto drawn = g.fitScaleFont(width, 20, [](int h) { return 2 * h; });
    EXPECT_EQ(drawn.height, 13);
    EXPECT_EQ(drawn.x, 51 - 26 - 4);
    // A font that fits the designed way is kept.
    EXPECT_EQ(g.fitScaleFont([](int) { return 10; }, 30).height, 318 / 12);
}

TEST(DBarGeometry, captionShrinksButNotBelowFive)
{
    const DBarGeometry g = receiverGeometry(610, 405);
    const auto fits = g.fitCaption(30, [](int h) { return 10 * h; });
    EXPECT_EQ(fits.height, 30);
    EXPECT_EQ(fits.x, (91 + 518) / 2 - 150);

    const auto shrinks = g.fitCaption(30, [](int h) { return 20 * h; }); // fits at 21
    EXPECT_EQ(shrinks.height, 21);
    EXPECT_GE(shrinks.x, 91);

    const auto tooWide = g.fitCaption(30, [](int) { return 2000; });
    EXPECT_EQ(tooWide.height, 5);
    EXPECT_LT(tooWide.x, 91);
}

TEST(DBarGeometry, leftScaleReadsMinus30ToMinus120)
{
    const DBarGeometry g = receiverGeometry(610, 405);
    std::vector<std::string> texts;
    for (int s = 0; s <= 10; ++s)
        texts.push_back(g.leftScaleText(s, 10));
    EXPECT_EQ(texts, (std::vector<std::string>{"-30", "-39", "-48", "-57", "-66", "-75", "-84", "-93",
                                               "-102", "-111", "-120"}));
}

TEST(DBarGeometry, barHalfWidth)
{
    EXPECT_EQ(receiverGeometry(610, 405, 2.0).barHalfWidth(1), 71);
    EXPECT_EQ(receiverGeometry(610, 405, 11.0).barHalfWidth(1), 17);
    EXPECT_EQ(receiverGeometry(610, 405, 11.0).barHalfWidth(4), 4);
    EXPECT_EQ(receiverGeometry(610, 405, 2000.0).barHalfWidth(1), 1); // would be 0
    EXPECT_EQ(receiverGeometry(610, 405, 2.0).barHalfWidth(0), 1);    // no division by zero
    EXPECT_EQ(receiverGeometry(610, 405, -1.0).barHalfWidth(1), 1);
}

TEST(DBarGeometry, valueToPixelIsNotClamped)
{
    const DBarGeometry g = receiverGeometry(610, 405);
    EXPECT_EQ(g.ValueToPixel(DBarGeometry::YAxis, -30.0), 60);
    EXPECT_EQ(g.ValueToPixel(DBarGeometry::YAxis, -120.0), 344);
    EXPECT_LT(g.ValueToPixel(DBarGeometry::YAxis, -20.0), 60);
    EXPECT_GT(g.ValueToPixel(DBarGeometry::YAxis, -130.0), 344);
    EXPECT_EQ(g.ValueToPixel(DBarGeometry::XAxis, 0.0), 91);
    EXPECT_EQ(g.ValueToPixel(DBarGeometry::XAxis, 1.0), 304); // 213.5 + 91, truncated
    EXPECT_EQ(g.ValueToPixel(DBarGeometry::XAxis, 2.0), 518);
    EXPECT_GT(g.ValueToPixel(DBarGeometry::XAxis, 3.0), 518);
    EXPECT_EQ(g.ValueToPixel(2, 1.0), -1);
    // Far-off values saturate instead of overflowing.
    EXPECT_GT(g.ValueToPixel(DBarGeometry::XAxis, 1e300), 1'000'000);
}

TEST(DBarGeometry, pixelToValueClampsToRange)
{
    const DBarGeometry g = receiverGeometry(610, 405);
    EXPECT_DOUBLE_EQ(g.PixelToValue(DBarGeometry::XAxis, 10), 0.0);
    EXPECT_DOUBLE_EQ(g.PixelToValue(DBarGeometry::XAxis, 600), 2.0);
    EXPECT_DOUBLE_EQ(g.PixelToValue(DBarGeometry::YAxis, 0), -30.0);
    EXPECT_DOUBLE_EQ(g.PixelToValue(DBarGeometry::YAxis, 400), -120.0);
    EXPECT_NEAR(g.PixelToValue(DBarGeometry::YAxis, 202), -75.0, 1e-9);
    EXPECT_DOUBLE_EQ(g.PixelToValue(7, 100), -1.0);
}

TEST(DBarGeometry, degenerateRanges)
{
    DBarGeometry g;
    // Before any layout the plot has no size: scale 1.0, not a division by zero.
    g.xMax = 2.0;
    g.recomputeXScale();
    g.recomputeYScale();
    EXPECT_DOUBLE_EQ(g.xScale, 1.0);
    EXPECT_DOUBLE_EQ(g.yScale, 1.0);

    g = receiverGeometry(610, 405);
    g.xMax = g.xMin = 3.0;
    g.yTop = g.yBottom = -50.0;
    g.recomputeXScale();
    g.recomputeYScale();
    EXPECT_EQ(g.ValueToPixel(DBarGeometry::XAxis, 7.0), 91);
    EXPECT_EQ(g.ValueToPixel(DBarGeometry::YAxis, 7.0), 60);
    EXPECT_DOUBLE_EQ(g.PixelToValue(DBarGeometry::XAxis, 300), 3.0);
    EXPECT_DOUBLE_EQ(g.PixelToValue(DBarGeometry::YAxis, 300), -50.0);
}

TEST(DBarGeometry, zoom)
{
    using B = DBarGeometry::Button;
    // 640 wide: plot 96 .. 544, 448 pixels, so 5.5 falls exactly on pixel 320.
    DBarGeometry g = receiverGeometry(640, 480, 11.0);
    ASSERT_EQ(g.ValueToPixel(DBarGeometry::XAxis, 5.5), 320);

    auto in = g.zoomRange(B::Left, 320, 200, 0.0, 11.0, 2.0);
    ASSERT_TRUE(in);
    EXPECT_DOUBLE_EQ(in->low, 2.75);
    EXPECT_DOUBLE_EQ(in->high, 8.25);

    g.xMin = in->low;
    g.xMax = in->high;
    g.recomputeXScale();
    auto out = g.zoomRange(B::Right, 320, 200, 0.0, 11.0, 2.0);
    ASSERT_TRUE(out);
    EXPECT_DOUBLE_EQ(out->low, 0.0);
    EXPECT_DOUBLE_EQ(out->high, 11.0);

    EXPECT_FALSE(g.zoomRange(B::Middle, 320, 200, 0.0, 11.0, 2.0));
    EXPECT_TRUE(g.zoomRange(B::Left, g.plotRect.right, g.plotRect.bottom, 0.0, 11.0, 2.0));
    EXPECT_FALSE(g.zoomRange(B::Left, g.plotRect.right + 1, 200, 0.0, 11.0, 2.0));
    EXPECT_FALSE(g.zoomRange(B::Left, 320, g.plotRect.top - 1, 0.0, 11.0, 2.0));

    // A span of 2 would halve to 1, below the minimum span.
    g.xMin = 4.0;
    g.xMax = 6.0;
    g.recomputeXScale();
    EXPECT_FALSE(g.zoomRange(B::Left, 320, 200, 0.0, 11.0, 2.0));
}

TEST(DBarGeometry, barLabelsStayInsideThePlot)
{
    const DBarGeometry g = receiverGeometry(610, 405); // plot 427 x 284
    struct Case
    {
        const char* legend;
        int x, by, w, h;
        bool vertical;
        int wantX, wantY;
    };
    const Case cases[] = {
        {"horizontal, room above", 100, 100, 50, 13, false, 100, 80},
        {"horizontal, 20 below the top", 100, 20, 50, 13, false, 100, 0},
        {"horizontal, no room above: inside the bar", 100, 10, 50, 13, false, 100, 12},
        {"horizontal, full-height bar", 100, 0, 50, 13, false, 100, 2},
        {"horizontal, past the left edge", -10, 100, 50, 13, false, 0, 80},
        {"horizontal, past the right edge", 400, 100, 50, 13, false, 377, 80},
        {"vertical, room above", 100, 200, 60, 13, true, 100, 180},
        {"vertical, just room above", 100, 80, 60, 13, true, 100, 60},
        {"vertical, no room above: inside the bar", 100, 79, 60, 13, true, 100, 141},
        {"vertical, full-height bar", 100, 0, 60, 13, true, 100, 62},
        {"vertical, empty bar at the bottom", 100, 284, 60, 13, true, 100, 264},
        {"horizontal, empty bar at the bottom", 100, 284, 50, 13, false, 100, 264},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const auto spot = g.labelPlace(c.x, c.by, c.w, c.h, c.vertical);
        EXPECT_EQ(spot.x, c.wantX);
        EXPECT_EQ(spot.y, c.wantY);
        const int top = c.vertical ? spot.y - c.w : spot.y;
        const int bottom = c.vertical ? spot.y : spot.y + c.h;
        EXPECT_GE(top, 0);
        EXPECT_LE(bottom, 284);
    }
}
