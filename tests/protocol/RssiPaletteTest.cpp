#include "protocol/RssiPalette.h"

#include <gtest/gtest.h>

namespace {

struct PaletteCase
{
    const char* legend;
    int minimum, maximum, rssi;
    RssiPalette::Rgb expected;
};

const PaletteCase kPalette[] = {
    {"minimum is blue", -120, -50, -120, {0, 0, 255}},
    {"maximum is red", -120, -50, -50, {255, 0, 0}},
    {"middle is green", -120, -50, -85, {0, 255, 0}},
    {"a quarter up is cyan", -100, -20, -80, {0, 255, 255}},
    {"three quarters up is yellow", -100, -20, -40, {255, 255, 0}},
    {"an eighth up, between blue and cyan", -100, -20, -90, {0, 127, 255}},
    {"seven eighths up, orange", -100, -20, -30, {255, 128, 0}},
    {"below the range clamps to blue", -120, -50, -127, {0, 0, 255}},
    {"above the range clamps to red", -120, -50, 0, {255, 0, 0}},
    {"a reversed range reads lowest to highest", -50, -120, -50, {255, 0, 0}},
    {"a reversed range, its low end", -50, -120, -120, {0, 0, 255}},
    {"a reversed range, its middle", -50, -120, -85, {0, 255, 0}},
    {"an empty range: at its value is red", -80, -80, -80, {255, 0, 0}},
    {"an empty range: below is blue", -80, -80, -81, {0, 0, 255}},
};

TEST(RssiPalette, HueRunsFromBlueAtTheMinimumToRedAtTheMaximum)
{
    for (const PaletteCase& c : kPalette) {
        SCOPED_TRACE(c.legend);
        const RssiPalette palette(c.minimum, c.maximum);
        const RssiPalette::Rgb got = palette.rgb(c.rssi);
        EXPECT_EQ(int(got.r), int(c.expected.r));
        EXPECT_EQ(int(got.g), int(c.expected.g));
        EXPECT_EQ(int(got.b), int(c.expected.b));
        EXPECT_EQ(palette.argb(c.rssi), 0xff000000u | uint32_t(c.expected.r) << 16 | uint32_t(c.expected.g) << 8 | c.expected.b);
    }
}

} // namespace
