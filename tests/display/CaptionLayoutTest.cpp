#include "display/CaptionLayout.h"

#include <gtest/gtest.h>

using Caption = CaptionLayout::Caption;

namespace {

DBarGeometry layoutAt(int left, int top, int width, int height)
{
    DBarGeometry g;
    g.computeLayout(left, top, width, height);
    return g;
}

} // namespace

// A 610 x 405 graph: plot (91, 60, 518, 344), margins 60 above, 61 below,
// 91 left and 92 right.
TEST(CaptionLayout, captionsOfA610By405Graph)
{
    const DBarGeometry g = layoutAt(0, 0, 610, 405);
    const CaptionLayout layout(g);
    const int font = layout.controlFontHeight();
    EXPECT_EQ(font, 30);

    struct Row
    {
        Caption caption;
        std::optional<DBarGeometry::Rect> band;
        int height;
        bool fitted;
        int escapement;
        bool blue;
        CaptionLayout::Point origin; // text 100 wide, cell 20 high, fitted at x 250
    };
    const Row rows[] = {
        {Caption::Title, DBarGeometry::Rect{91, 15, 518, 45}, 30, true, 0, false, {250, 30 - 10}},
        {Caption::Bottom, DBarGeometry::Rect{91, 359, 518, 389}, 30, true, 0, false, {250, 374 - 10}},
        {Caption::Value, std::nullopt, 14, false, 900, false, {22 - 15, 202 + 50}},
        {Caption::Right, std::nullopt, 30, false, 2700, true, {610 - 23 + 15, 202 - 50}},
        {Caption::Note, std::nullopt, 20, false, 0, true, {457 - 50, 405 - 20 - 3}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(int(r.caption));
        EXPECT_EQ(layout.band(r.caption), r.band);
        const CaptionLayout::Style s = layout.style(r.caption, font);
        EXPECT_EQ(s.height, r.height);
        EXPECT_EQ(s.fitted, r.fitted);
        EXPECT_EQ(s.escapement, r.escapement);
        EXPECT_EQ(s.blue, r.blue);
        EXPECT_EQ(layout.origin(r.caption, 100, 20, 250, font), r.origin);
    }
}

// Fractions truncate each on its own: a 7-pixel margin gives a band from 1
// to 5 (a quarter is 1, three quarters 5), not 1 to 4.
TEST(CaptionLayout, fractionsOfOddMarginsTruncateEach)
{
    DBarGeometry g;
    g.outerRect = {0, 10, 100, 100};
    g.plotRect = {20, 17, 80, 80};
    const CaptionLayout layout(g);
    EXPECT_EQ(layout.band(Caption::Title), (DBarGeometry::Rect{20, 11, 80, 15}));
    EXPECT_EQ(layout.style(Caption::Title, 0).height, 3);
    EXPECT_EQ(layout.controlFontHeight(), 6);
}
