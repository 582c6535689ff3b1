#include "coverage/CoverageStyle.h"
#include "protocol/RssiPalette.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

struct Class
{
    double lower = 0, upper = 0;
    std::string colour;
};

// The class of the style that holds a median, with its symbol's colour.
Class classOf(const std::string& qml, int median)
{
    const std::regex range("<range lower=\"([-0-9.]+)\" upper=\"([-0-9.]+)\" symbol=\"(\\d+)\"");
    for (auto it = std::sregex_iterator(qml.begin(), qml.end(), range); it != std::sregex_iterator(); ++it) {
        const double lower = std::stod((*it)[1]), upper = std::stod((*it)[2]);
        if (median > lower && median < upper) {
            const std::regex symbol("<symbol type=\"fill\" name=\"" + (*it)[3].str()
                                    + "\"[^>]*>\\s*<layer[^>]*>\\s*<prop k=\"color\" v=\"([0-9,]+)\"");
            std::smatch m;
            return {lower, upper, std::regex_search(qml, m, symbol) ? m[1].str() : std::string()};
        }
    }
    return {};
}

std::string rgbOf(const RssiPalette& palette, int dbm)
{
    const RssiPalette::Rgb c = palette.rgb(dbm);
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ",255";
}

// Every whole-dBm median falls in exactly one class, coloured as the map and
// the export colour that level; levels past the ends take the ends' colours.
TEST(CoverageStyle, ClassesColourEachMedianOnThePalette)
{
    for (const auto& [lo, hi] : {std::pair{-120, -50}, std::pair{-100, -60}}) {
        const std::string qml = CoverageStyle::qml(lo, hi);
        EXPECT_NE(qml.find("attr=\"median_dbm\""), std::string::npos);
        const RssiPalette palette(lo, hi);
        for (int median = -128; median <= 127; ++median) {
            const Class c = classOf(qml, median);
            ASSERT_FALSE(c.colour.empty()) << median;
            const int clamped = std::clamp(median, lo, hi);
            EXPECT_EQ(c.colour, rgbOf(palette, clamped)) << median;
        }
    }
}

TEST(CoverageStyle, QuotesTextForSql)
{
    EXPECT_EQ(CoverageStyle::quoted("it's"), "'it''s'");
    EXPECT_NE(CoverageStyle::gpkgRow(-120, -50).find("'cells', 'geom', 'Median RSSI'"), std::string::npos);
}

} // namespace
