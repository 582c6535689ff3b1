#include "coverage/BackgroundBinner.h"
#include "coverage/CoverageBinner.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>

namespace {

DriveFix fixAt(double lat, double lon, int64_t ms, double dop = 1.0)
{
    DriveFix f;
    f.latitude = lat;
    f.longitude = lon;
    f.timeMs = ms;
    f.timeValid = true;
    f.status = 7;
    f.used = true;
    f.dop = dop;
    return f;
}

DriveSample sampleAt(double lat, double lon, int64_t ms, int rssi, double mhz = 851.0125, uint8_t receiver = 0)
{
    DriveSample s;
    s.latitude = lat;
    s.longitude = lon;
    s.timeMs = ms;
    s.rssi = int8_t(rssi);
    s.frequencyMHz = mhz;
    s.receiver = receiver;
    s.placed = true;
    return s;
}

using NaiveKey = std::tuple<int64_t, int64_t, int>;

// A wandering route over row edges, the antimeridian and near a pole: the
// binner's shortcuts must put every sample where the grid alone puts it.
TEST(CoverageBinner, PutsEverySampleInTheGridsCell)
{
    struct Route
    {
        const char* name;
        double lat, lon, step;
    };
    for (const Route route : {Route{"antimeridian", -16.8, 179.99, 0.0004}, Route{"equator", -0.001, 10, 0.0002},
                              Route{"pole", 89.997, 0, 0.0004}, Route{"city", 48.85, 2.35, 0.0003}}) {
        const CoverageGrid grid(50);
        CoverageBinner binner(grid);
        std::map<NaiveKey, RssiHistogram> naive;
        std::mt19937 random(11);
        std::uniform_real_distribution<double> move(-route.step, route.step);
        std::uniform_int_distribution<int> level(-120, -40), channel(0, 5);
        double lat = route.lat, lon = route.lon;
        for (int i = 0; i < 20000; ++i) {
            lat = std::clamp(lat + move(random), -90.0, 90.0);
            lon += move(random) * 3;
            if (lon > 180)
                lon -= 360;
            if (lon < -180)
                lon += 360;
            const double mhz = 851.0 + 0.0125 * channel(random);
            const uint8_t receiver = uint8_t(i % 2);
            const int rssi = level(random);
            binner.sample(sampleAt(lat, lon, 1000 + i, rssi, mhz, receiver));
            naive[{CoverageGrid::key(grid.cellOf(lat, lon)), CoverageCells::frequencyKey(mhz), receiver}].add(rssi);
        }
        const CoverageCells& cells = binner.drive().cells;
        ASSERT_EQ(cells.size(), naive.size()) << route.name;
        for (const auto& [key, histogram] : naive) {
            const auto it = cells.map().find({std::get<0>(key), std::get<1>(key), uint8_t(std::get<2>(key))});
            ASSERT_NE(it, cells.map().end()) << route.name;
            EXPECT_EQ(it->second.histogram, histogram) << route.name;
            EXPECT_EQ(it->second.drives, 1u);
        }
        EXPECT_EQ(binner.drive().samplesBinned, 20000u);
    }
}

// More channels in one cell than the binner keeps at hand, met in turn
// and back again across two cells: each reading lands in its own record.
TEST(CoverageBinner, CountsEveryChannelOfACellBeyondItsTable)
{
    const CoverageGrid grid(50);
    CoverageBinner binner(grid);
    constexpr int kChannels = 1200; // on both receivers: 2400 records per cell
    for (int round = 0; round < 3; ++round)
        for (const double lon : {2.35, 2.36})
            for (int k = 0; k < 2 * kChannels; ++k)
                binner.sample(sampleAt(48.85, lon, 1000 * round, -60 - round, 851.0 + 0.0125 * (k / 2), uint8_t(k % 2)));
    const CoverageCells& cells = binner.drive().cells;
    ASSERT_EQ(cells.size(), size_t(4 * kChannels));
    for (const auto& [key, r] : cells.map()) {
        EXPECT_EQ(r.histogram.count(), 3u);
        EXPECT_EQ(r.histogram.countAt(-62), 1u);
        EXPECT_EQ(r.firstMs, 0);
        EXPECT_EQ(r.lastMs, 2000);
    }
}

TEST(CoverageBinner, KeepsFirstAndLastTimePerCell)
{
    const CoverageGrid grid(50);
    CoverageBinner binner(grid);
    binner.sample(sampleAt(10, 10, 5000, -70));
    binner.sample(sampleAt(10, 10, 3000, -71));
    binner.sample(sampleAt(10, 10, 9000, -72));
    binner.sample(sampleAt(11, 10, 1000, -72));
    const auto& r = binner.drive().cells.map().at({CoverageGrid::key(grid.cellOf(10, 10)),
                                                   CoverageCells::frequencyKey(851.0125), 0});
    EXPECT_EQ(r.firstMs, 3000);
    EXPECT_EQ(r.lastMs, 9000);
}

TEST(CoverageBinner, LeavesOutUnplacedAndUnknownFrequencies)
{
    const CoverageGrid grid(50);
    CoverageBinner binner(grid);
    DriveSample unplaced = sampleAt(10, 10, 0, -70);
    unplaced.placed = false;
    binner.sample(unplaced);
    binner.sample(sampleAt(10, 10, 0, -70, 0.0));
    binner.sample(sampleAt(10, 10, 0, -70));
    EXPECT_EQ(binner.drive().cells.readings(), 1u);
    EXPECT_EQ(binner.samplesLeftOut(), 1u);
    EXPECT_EQ(binner.drive().samplesPlaced, 2u);
}

// Samples between two fixes count only when both fixes are precise enough.
TEST(CoverageBinner, MaxDopLeavesOutSamplesBetweenImpreciseFixes)
{
    struct Case
    {
        double dopBefore, dopAfter;
        bool kept;
    };
    for (const Case c : {Case{1.0, 2.0, true}, Case{1.0, 2.5, false}, Case{3.0, 1.0, false}, Case{2.0, 2.0, true}}) {
        const CoverageGrid grid(50);
        CoverageBinner binner(grid, 2.0);
        binner.fix(fixAt(10, 10, 0, c.dopBefore));
        binner.sample(sampleAt(10, 10, 500, -70));
        binner.sample(sampleAt(10, 10, 600, -71));
        binner.fix(fixAt(10, 10, 1000, c.dopAfter));
        // Samples after the fix wait for the next one.
        binner.sample(sampleAt(10, 10, 1500, -72));
        EXPECT_EQ(binner.drive().cells.readings(), c.kept ? 2u : 0u) << c.dopBefore << " " << c.dopAfter;
        EXPECT_EQ(binner.drive().samplesBinned, c.kept ? 2u : 0u);
        EXPECT_EQ(binner.samplesLeftOut(), c.kept ? 0u : 2u);
    }
}

TEST(CoverageBinner, RouteAndTimesComeFromUsedFixes)
{
    const CoverageGrid grid(50);
    CoverageBinner binner(grid);
    DriveFix unused = fixAt(1, 1, 100);
    unused.used = false;
    binner.fix(unused);
    binner.fix(fixAt(10, 20, 2000));
    binner.fix(fixAt(10.001, 20.001, 3000));
    const DriveCoverage& d = binner.drive();
    ASSERT_EQ(d.route.size(), 2u);
    EXPECT_EQ(d.route[1].longitude, 20.001);
    EXPECT_EQ(d.firstMs, 2000);
    EXPECT_EQ(d.lastMs, 3000);
    EXPECT_EQ(d.fixesUsed, 2u);
}

// Binned on a thread of its own, a drive of many batches comes out as binned
// in place: each fix between the samples it came between, so a DOP bound
// keeps and leaves out the same samples.
TEST(BackgroundBinner, BinsWhatTheBinnerAloneWould)
{
    const CoverageGrid grid(50);
    CoverageBinner alone(grid, 2.0), behind(grid, 2.0);
    {
        BackgroundBinner background(behind);
        std::mt19937 random(5);
        std::uniform_int_distribution<int> level(-120, -40), channel(0, 7), dop(1, 3), fixEvery(1, 3000);
        double lat = 52.5, lon = 13.4;
        int64_t ms = 0;
        for (int i = 0; i < int(BackgroundBinner::kBatch) * 9 + 123; ++i) {
            if (fixEvery(random) <= 2 || i == 0) {
                const DriveFix f = fixAt(lat, lon, ms, dop(random));
                alone.fix(f);
                background.fix(f);
            }
            lat += 0.00001;
            lon += 0.000013;
            ms += 10;
            DriveSample s = sampleAt(lat, lon, ms, level(random), 851.0 + 0.0125 * channel(random), uint8_t(i % 2));
            s.placed = i % 97 != 0;
            alone.sample(s);
            background.sample(s);
        }
        const DriveFix last = fixAt(lat, lon, ms + 10, 1);
        alone.fix(last);
        background.fix(last);
        background.finish();
    }
    EXPECT_GT(alone.samplesLeftOut(), 0u);
    EXPECT_GT(alone.drive().samplesBinned, 0u);
    EXPECT_EQ(behind.samplesLeftOut(), alone.samplesLeftOut());
    EXPECT_EQ(behind.drive().samplesBinned, alone.drive().samplesBinned);
    EXPECT_EQ(behind.drive().samplesPlaced, alone.drive().samplesPlaced);
    EXPECT_EQ(behind.drive().fixesUsed, alone.drive().fixesUsed);
    EXPECT_EQ(behind.drive().route.size(), alone.drive().route.size());
    EXPECT_TRUE(behind.drive().cells == alone.drive().cells);
}

// Left without finish(), the binner still gets the part batch it was filling
// once the background binner goes.
TEST(BackgroundBinner, GoingWithoutFinishBinsTheRestAllTheSame)
{
    const CoverageGrid grid(50);
    CoverageBinner alone(grid, 2.0), behind(grid, 2.0);
    {
        BackgroundBinner background(behind);
        for (int i = 0; i < int(BackgroundBinner::kBatch) + 77; ++i) {
            if (i % 50 == 0) {
                const DriveFix f = fixAt(52.5 + i * 1e-5, 13.4, i * 10);
                alone.fix(f);
                background.fix(f);
            }
            const DriveSample s = sampleAt(52.5 + i * 1e-5, 13.4, i * 10 + 5, -60 - i % 50);
            alone.sample(s);
            background.sample(s);
        }
    }
    EXPECT_GT(alone.drive().samplesBinned, BackgroundBinner::kBatch);
    EXPECT_EQ(behind.drive().samplesBinned, alone.drive().samplesBinned);
    EXPECT_TRUE(behind.drive().cells == alone.drive().cells);
}

TEST(CoverageCells, AddingCountsDrivesAndWidensTimes)
{
    CoverageCells a, b;
    const CoverageCells::Key key{42, 100, 1};
    auto& ra = a.at(key);
    ra.histogram.add(-80);
    ra.drives = 1;
    ra.firstMs = 500;
    ra.lastMs = 900;
    auto& rb = b.at(key);
    rb.histogram.add(-81);
    rb.drives = 1;
    rb.firstMs = 100;
    rb.lastMs = 600;
    CoverageCells sum;
    sum.add(a);
    sum.add(b);
    const auto& r = sum.map().at(key);
    EXPECT_EQ(r.drives, 2u);
    EXPECT_EQ(r.firstMs, 100);
    EXPECT_EQ(r.lastMs, 900);
    EXPECT_EQ(r.histogram.count(), 2u);
    CoverageCells same;
    same.absorb(a);
    same.absorb(a);
    EXPECT_EQ(same.map().at(key).drives, 1u);
}

} // namespace
