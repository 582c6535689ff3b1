#include "coverage/RssiHistogram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

namespace {

// Nearest rank on the sorted readings themselves.
int rankOf(std::vector<int> v, int p)
{
    std::sort(v.begin(), v.end());
    const size_t k = std::max<size_t>(1, (size_t(p) * v.size() + 99) / 100);
    return v[k - 1];
}

RssiHistogram histogramOf(const std::vector<int>& readings)
{
    RssiHistogram h;
    for (int r : readings)
        h.add(r);
    return h;
}

struct FiguresCase
{
    const char* name;
    std::vector<int> readings;
    int p10, median, p90;
    friend void PrintTo(const FiguresCase& c, std::ostream* os) { *os << c.name; }
};

class HistogramFigures : public testing::TestWithParam<FiguresCase>
{
};

TEST_P(HistogramFigures, AreThoseOfTheReadings)
{
    const FiguresCase& c = GetParam();
    const CellFigures f = histogramOf(c.readings).figures();
    EXPECT_EQ(f.count, c.readings.size());
    EXPECT_EQ(f.minimum, *std::min_element(c.readings.begin(), c.readings.end()));
    EXPECT_EQ(f.maximum, *std::max_element(c.readings.begin(), c.readings.end()));
    EXPECT_EQ(f.p10, c.p10);
    EXPECT_EQ(f.median, c.median);
    EXPECT_EQ(f.p90, c.p90);
    EXPECT_EQ(f.mean, double(std::accumulate(c.readings.begin(), c.readings.end(), int64_t(0))) / double(c.readings.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HistogramFigures,
    testing::Values(FiguresCase{"one", {-77}, -77, -77, -77},
                    // Even count: the median is the lower middle.
                    FiguresCase{"two", {-90, -60}, -90, -90, -60},
                    FiguresCase{"ten", {-100, -99, -98, -97, -96, -95, -94, -93, -92, -91}, -100, -96, -92},
                    FiguresCase{"eleven", {-1, -2, -3, -4, -5, -6, -7, -8, -9, -10, -11}, -10, -6, -2},
                    FiguresCase{"extremes", {-128, 127, -128}, -128, -128, 127},
                    FiguresCase{"gap", {-120, -120, -120, -50}, -120, -120, -50}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RssiHistogram, RandomReadingsGiveTheFiguresOfTheRawSamples)
{
    std::mt19937 random(7);
    for (int trial = 0; trial < 200; ++trial) {
        std::uniform_int_distribution<int> level(-128, 127), size(1, 500);
        std::vector<int> v(size_t(size(random)));
        const int centre = level(random);
        for (int& r : v)
            r = std::clamp(centre + int(std::normal_distribution<double>(0, 8)(random)), -128, 127);
        const CellFigures f = histogramOf(v).figures();
        ASSERT_EQ(f.p10, rankOf(v, 10)) << trial;
        ASSERT_EQ(f.median, rankOf(v, 50)) << trial;
        ASSERT_EQ(f.p90, rankOf(v, 90)) << trial;
        ASSERT_EQ(f.mean, double(std::accumulate(v.begin(), v.end(), int64_t(0))) / double(v.size())) << trial;
    }
}

TEST(RssiHistogram, SumsEqualTheHistogramOfAllReadings)
{
    const std::vector<int> a{-90, -91, -91, -60}, b{-130 + 5, -40, -91};
    RssiHistogram sum = histogramOf(a);
    sum.add(histogramOf(b));
    std::vector<int> all = a;
    all.insert(all.end(), b.begin(), b.end());
    EXPECT_EQ(sum, histogramOf(all));
    EXPECT_EQ(sum.countAt(-91), 3u);
    EXPECT_EQ(sum.figures().count, all.size());
}

TEST(RssiHistogram, TextRoundTripsAndRejectsDamage)
{
    const RssiHistogram h = histogramOf({-100, -98, -98, -96});
    EXPECT_EQ(h.text(), "-100:1,0,2,0,1");
    RssiHistogram back;
    ASSERT_TRUE(RssiHistogram::fromText(h.text(), back));
    EXPECT_EQ(back, h);
    EXPECT_TRUE(RssiHistogram::fromText("", back));
    EXPECT_TRUE(back.empty());
    for (const char* bad : {"-100", "-100:", "-100:1,", "x:1", "-129:1", "120:1,1,1,1,1,1,1,1,1", "-100:1;2", "-100:-1", "-90:9007199254740992,1", "-90:18446744073709551615,1"})
        EXPECT_FALSE(RssiHistogram::fromText(bad, back)) << bad;
}

TEST(RssiHistogram, FromLowestStartsAtMinus128)
{
    const std::vector<uint64_t> v = histogramOf({-127, -125, -125}).fromLowest();
    EXPECT_EQ(v, (std::vector<uint64_t>{0, 1, 0, 2}));
}

} // namespace
