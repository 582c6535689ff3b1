#include "coverage/AcceptanceArea.h"
#include "coverage/AcceptanceSource.h"
#include "coverage/AcceptanceStatistics.h"
#include "coverage/AcceptanceTiler.h"
#include "coverage/CoverageCells.h"
#include "coverage/GpkgCoverageStore.h"
#include "coverage/LeeLocalMeans.h"
#include "coverage/RssiHistogram.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

namespace {

using Verdict = AcceptanceFigures::Verdict;

// The interval's ends as the roots of (p^ - p)^2 = z^2 p (1 - p) / n, the
// score test it inverts: another road to the same numbers.
std::pair<double, double> scoreRoots(double passed, double n, double z)
{
    const double ph = passed / n, k = z * z / n;
    const double a = 1 + k, b = -(2 * ph + k), c = ph * ph;
    const double d = std::sqrt(std::max(0.0, b * b - 4 * a * c));
    return {(-b - d) / (2 * a), (-b + d) / (2 * a)};
}

TEST(AcceptanceStatistics, TheNormalQuantileIsExactWhereTablesRoundIt)
{
    struct Row
    {
        double p, z;
    };
    // Reference values to 16 digits.
    const Row rows[] = {{0.5, 0.0},
                        {0.8, 0.8416212335729143},
                        {0.9, 1.2815515655446004},
                        {0.95, 1.6448536269514722},
                        {0.975, 1.959963984540054},
                        {0.99, 2.3263478740408408},
                        {0.999, 3.090232306167813},
                        {0.01, -2.3263478740408408},
                        {1e-10, -6.361340902404056}};
    for (const Row& r : rows)
        EXPECT_NEAR(AcceptanceStatistics::normalQuantile(r.p), r.z, 1e-13 * std::max(1.0, std::fabs(r.z))) << r.p;
}

TEST(AcceptanceStatistics, WilsonBoundsMatchTheScoreTestAtTheEndsAndBesideThem)
{
    const double z = AcceptanceStatistics::normalQuantile(0.9);
    for (uint64_t n : {1, 2, 7, 30, 200, 100000}) {
        for (uint64_t passed : {uint64_t(0), uint64_t(1), n - 1, n}) {
            if (passed > n)
                continue;
            const auto [lo, hi] = scoreRoots(double(passed), double(n), z);
            const AcceptanceStatistics::Bounds b = AcceptanceStatistics::wilson(passed, n, z);
            // The quadratic's own rounding, not the interval's, sets the tolerance.
            EXPECT_NEAR(b.lower, lo, 1e-10) << passed << "/" << n;
            EXPECT_NEAR(b.upper, hi, 1e-10) << passed << "/" << n;
        }
        EXPECT_EQ(AcceptanceStatistics::wilson(uint64_t(0), n, z).lower, 0.0);
        EXPECT_EQ(AcceptanceStatistics::wilson(n, n, z).upper, 1.0);
        // All passing: the lower bound is n / (n + z^2).
        EXPECT_NEAR(AcceptanceStatistics::wilson(n, n, z).lower, double(n) / (double(n) + z * z), 1e-12);
    }
    const AcceptanceStatistics::Bounds none = AcceptanceStatistics::wilson(uint64_t(0), uint64_t(0), z);
    EXPECT_EQ(none.lower, 0.0);
    EXPECT_EQ(none.upper, 1.0);
}

TEST(AcceptanceStatistics, VerdictsAndTheTilesThatWouldDecide)
{
    const double z = AcceptanceStatistics::normalQuantile(0.9);
    struct Row
    {
        uint64_t passed, tested;
        Verdict verdict;
        bool needs; // an inconclusive verdict that more tiles would decide
    };
    const Row rows[] = {
        {100, 100, Verdict::Pass, false},        // 100/101.64 = 0.984 >= 0.95
        {0, 10, Verdict::Fail, false},           // upper 0.141
        {19, 20, Verdict::Inconclusive, false},  // exactly the requirement: no number decides
        {29, 30, Verdict::Inconclusive, true},   // 0.967 > 0.95, not proven yet
        {85, 100, Verdict::Fail, false},         // upper 0.893
        {94, 100, Verdict::Inconclusive, true},  // 0.94 < 0.95, not disproven yet
        {0, 0, Verdict::Inconclusive, false},    // nothing tested
    };
    for (const Row& r : rows) {
        AcceptanceFigures f;
        f.tilesTested = r.tested;
        f.tilesPassed = r.passed;
        AcceptanceStatistics::decide(f, 0.95, z);
        EXPECT_EQ(f.verdict, r.verdict) << r.passed << "/" << r.tested;
        EXPECT_EQ(f.tilesNeeded.has_value(), r.needs) << r.passed << "/" << r.tested;
        if (!f.tilesNeeded)
            continue;
        // The first size that decides: one tile fewer would not.
        const double rate = double(r.passed) / double(r.tested);
        const auto decided = [&](uint64_t more) {
            const AcceptanceStatistics::Bounds b = AcceptanceStatistics::wilson(rate, double(r.tested + more), z);
            return b.lower >= 0.95 || b.upper < 0.95;
        };
        EXPECT_TRUE(decided(*f.tilesNeeded)) << r.passed << "/" << r.tested;
        EXPECT_FALSE(decided(*f.tilesNeeded - 1)) << r.passed << "/" << r.tested;
    }
}

// A square of 0.02° with a square hole of 0.006° in its middle, and a
// second square apart.
AcceptanceArea squareWithHole(double lat, double lon)
{
    AcceptanceArea::Polygon outer;
    outer.exterior = {{lat, lon}, {lat, lon + 0.02}, {lat + 0.02, lon + 0.02}, {lat + 0.02, lon}};
    outer.holes.push_back({{lat + 0.007, lon + 0.007}, {lat + 0.013, lon + 0.007}, {lat + 0.013, lon + 0.013},
                           {lat + 0.007, lon + 0.013}});
    AcceptanceArea::Polygon apart;
    apart.exterior = {{lat, lon + 0.03}, {lat, lon + 0.035}, {lat + 0.005, lon + 0.035}, {lat + 0.005, lon + 0.03}};
    AcceptanceArea area;
    area.setPolygons({outer, apart});
    return area;
}

TEST(AcceptanceArea, HolesAndSeveralPolygonsAndTheEdgeItself)
{
    const AcceptanceArea area = squareWithHole(52.0, 0.1);
    struct Row
    {
        double lat, lon;
        bool inside;
    };
    const Row rows[] = {
        {52.001, 0.101, true},   // inside the square
        {52.010, 0.110, false},  // in the hole
        {52.007, 0.110, true},   // on the hole's edge: the boundary belongs to the area
        {52.010, 0.100, true},   // on the square's west edge
        {52.020, 0.110, true},   // on its north edge, which lies along the parallel
        {52.010, 0.0999, false}, // just west of it
        {52.002, 0.032 + 0.1, true}, // in the second polygon
        {52.002, 0.025 + 0.1, false}, // between the two
        {52.030, 0.110, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(area.contains(r.lat, r.lon), r.inside) << r.lat << " " << r.lon;
}

// Every tile of the grid around the area, and the tiles the area takes:
// the tiler's tiles are exactly those whose centres the rectangles'
// arithmetic puts inside.
TEST(AcceptanceTiler, TheAreaTakesTheTilesWhoseCentresItHolds)
{
    const double lat = 52.0, lon = 0.1;
    const AcceptanceArea area = squareWithHole(lat, lon);
    AcceptanceTiler::Settings settings;
    settings.tileMetres = 100;
    const AcceptanceTiler tiler(settings, &area);
    const CoverageGrid grid(100);
    size_t expected = 0;
    std::vector<int64_t> keys;
    for (int32_t row = grid.rowOf(lat - 0.01); row <= grid.rowOf(lat + 0.03); ++row) {
        // Rows hold different numbers of columns: each row finds its own.
        const double middle = (grid.rowSouth(row) + grid.rowSouth(row + 1)) / 2;
        const int32_t c0 = grid.cellOf(middle, lon - 0.01).column, c1 = grid.cellOf(middle, lon + 0.05).column;
        for (int32_t col = c0; col <= c1; ++col) {
            const CoverageGrid::Bounds b = grid.bounds({row, col});
            const double y = (b.south + b.north) / 2, x = (b.west + b.east) / 2;
            const bool inSquare = y >= lat && y <= lat + 0.02 && x >= lon && x <= lon + 0.02;
            const bool inHole = y > lat + 0.007 && y < lat + 0.013 && x > lon + 0.007 && x < lon + 0.013;
            const bool inApart = y >= lat && y <= lat + 0.005 && x >= lon + 0.03 && x <= lon + 0.035;
            if ((inSquare && !inHole) || inApart) {
                ++expected;
                keys.push_back(CoverageGrid::key({row, col}));
            }
        }
    }
    ASSERT_GT(expected, 250u);
    ASSERT_EQ(tiler.areaTiles().size(), expected);
    std::sort(keys.begin(), keys.end());
    for (size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(tiler.areaTiles()[i].key, keys[i]);
}

TEST(AcceptanceTiler, ATileWhoseCentreLiesOnTheEdgeBelongsToTheArea)
{
    const CoverageGrid grid(100);
    const CoverageGrid::Cell cell = grid.cellOf(48.5, 7.5);
    const CoverageGrid::Bounds b = grid.bounds(cell);
    const double x = (b.west + b.east) / 2, y = (b.south + b.north) / 2;
    // The area's west edge runs through the tile's centre; the tile to its
    // west lies outside.
    AcceptanceArea::Polygon p;
    p.exterior = {{y - 0.01, x}, {y - 0.01, x + 0.01}, {y + 0.01, x + 0.01}, {y + 0.01, x}};
    AcceptanceArea area;
    area.setPolygons({p});
    AcceptanceTiler::Settings settings;
    settings.tileMetres = 100;
    const AcceptanceTiler tiler(settings, &area);
    const auto has = [&tiler](CoverageGrid::Cell c) {
        return std::any_of(tiler.areaTiles().begin(), tiler.areaTiles().end(),
                           [&c](const AcceptanceTile& t) { return t.key == CoverageGrid::key(c); });
    };
    EXPECT_TRUE(has(cell));
    EXPECT_FALSE(has({cell.row, cell.column - 1}));
    EXPECT_TRUE(has({cell.row, cell.column + 1}));
}

// A synthetic field over the square with its hole: tiles west of a
// meridian are strong, those east weak, a band has too few samples, and
// a corner was never driven. The figures are counted here by hand.
TEST(AcceptanceTiler, ASyntheticFieldGivesTheCountsWorkedOutByHand)
{
    const double lat = 52.0, lon = 0.1;
    const AcceptanceArea area = squareWithHole(lat, lon);
    AcceptanceTiler::Settings settings;
    settings.tileMetres = 100;
    settings.thresholdDbm = -95;
    settings.minSamples = 36;
    const AcceptanceTiler tiler(settings, &area);
    AcceptanceInput input;
    AcceptanceInput::Channel& channel = input.channel(1, CoverageCells::frequencyKey(851.0125));
    uint64_t pass = 0, fail = 0, few = 0, none = 0;
    for (const AcceptanceTile& t : tiler.areaTiles()) {
        if (t.latitude > lat + 0.017 && t.longitude > lon + 0.017) {
            ++none; // never driven
            continue;
        }
        AcceptanceInput::Tile& tile = channel.tiles[t.key];
        if (t.latitude < lat + 0.002) {
            tile.histogram.add(-60, 35); // one sample short of a test
            ++few;
            continue;
        }
        // 40 samples; the median is the 20th smallest.
        const bool strong = t.longitude < lon + 0.012;
        tile.histogram.add(strong ? -95 : -96, 20);
        tile.histogram.add(-50, 20);
        (strong ? pass : fail)++;
    }
    // Samples outside the area count for nothing.
    channel.tiles[CoverageGrid::key(CoverageGrid(100).cellOf(lat - 0.05, lon))].histogram.add(-40, 100);
    const AcceptanceSection s = tiler.section(channel);
    EXPECT_EQ(s.figures.tilesInArea, tiler.areaTiles().size());
    EXPECT_EQ(s.figures.tilesPassed, pass);
    EXPECT_EQ(s.figures.tilesTested, pass + fail);
    EXPECT_EQ(s.figures.tilesUntested, few + none);
    EXPECT_EQ(s.figures.tilesNotDriven, none);
    EXPECT_DOUBLE_EQ(s.figures.reliability, double(pass) / double(pass + fail));
    for (const AcceptanceTile& t : s.tiles) {
        if (t.tested()) {
            EXPECT_EQ(t.valueDbm, t.state == AcceptanceTile::State::Passed ? -95 : -96);
        }
    }
}

TEST(AcceptanceTiler, WithoutAnAreaTheDrivenTilesAreTheArea)
{
    AcceptanceTiler::Settings settings;
    settings.tileMetres = 100;
    settings.estimator = AcceptanceReport::Estimator::P10;
    settings.thresholdDbm = -100;
    settings.minSamples = 10;
    const AcceptanceTiler tiler(settings, nullptr);
    const CoverageGrid grid(100);
    AcceptanceInput input;
    AcceptanceInput::Channel& channel = input.channel(2, CoverageCells::frequencyKey(451.0));
    // p10 of 1x -110 and 9x -60 is -110: it fails where the median passes.
    RssiHistogram& a = channel.tiles[CoverageGrid::key(grid.cellOf(10, 10))].histogram;
    a.add(-110, 1);
    a.add(-60, 9);
    channel.tiles[CoverageGrid::key(grid.cellOf(10.01, 10))].histogram.add(-99, 10);
    channel.tiles[CoverageGrid::key(grid.cellOf(10.02, 10))].histogram.add(-99, 3);
    const AcceptanceSection s = tiler.section(channel);
    EXPECT_EQ(s.receiver, 2);
    EXPECT_EQ(s.figures.tilesInArea, 3u);
    EXPECT_EQ(s.figures.tilesTested, 2u);
    EXPECT_EQ(s.figures.tilesPassed, 1u);
    EXPECT_EQ(s.figures.tilesNotDriven, 0u);
}

TEST(AcceptanceInput, BothReceiversPooledAddTheirReadingsPerFrequencyAndTile)
{
    AcceptanceInput input;
    const int64_t f1 = CoverageCells::frequencyKey(851.0125), f2 = CoverageCells::frequencyKey(852.0);
    input.channel(1, f1).tiles[7].histogram.add(-90, 20);
    input.channel(2, f1).tiles[7].histogram.add(-80, 20);
    input.channel(2, f1).tiles[8].localMeans.push_back(-70.5f);
    input.channel(2, f2).tiles[7].histogram.add(-60, 3);
    input.poolReceivers();
    ASSERT_EQ(input.channels.size(), 2u);
    const AcceptanceInput::Channel& both = input.channels.at({0, f1});
    EXPECT_EQ(both.receiver, 0);
    EXPECT_EQ(both.tiles.at(7).histogram.count(), 40u);
    EXPECT_EQ(both.tiles.at(7).histogram.percentile(50), -90); // the lower middle of 20 and 20
    EXPECT_EQ(both.tiles.at(8).localMeans, std::vector<float>{-70.5f});
    EXPECT_EQ(input.channels.at({0, f2}).tiles.at(7).histogram.count(), 3u);
}

// A map's cells add their text straight into the tile's histogram: it
// widens at either end as far as the cell reaches and no further, and a
// damaged cell leaves the tile as it was.
TEST(AcceptanceInput, ACellsTextAddsIntoItsTileAndDamageAddsNothing)
{
    struct Row
    {
        const char* cell;
        bool sound;
        const char* tile; // the tile's histogram after, as text
    };
    const Row rows[] = {
        {"", true, "-90:2,0,1"},
        {"-89:4", true, "-90:2,4,1"},
        {"-93:1,0,0,1", true, "-93:1,0,0,3,0,1"},
        {"-87:0,3", true, "-90:2,0,1,0,3"},
        {"-92:1,0,0,0,0,0,1", true, "-92:1,0,2,0,1,0,1"},
        {"-95:0,0,0,0,0,0,0,0,0,0", true, "-90:2,0,1"},
        {"-100:1,x", false, "-90:2,0,1"},
        {"-100:1,", false, "-90:2,0,1"},
        {"-95:1;2", false, "-90:2,0,1"},
        {"120:1,1,1,1,1,1,1,1,1", false, "-90:2,0,1"},
        {"-95:9007199254740992,1", false, "-90:2,0,1"},
    };
    for (const Row& r : rows) {
        RssiHistogram tile;
        tile.add(-90, 2);
        tile.add(-88);
        EXPECT_EQ(tile.addText(r.cell), r.sound) << r.cell;
        EXPECT_EQ(tile.text(), r.tile) << r.cell;
        if (!r.sound)
            continue;
        // The same as the cell read on its own and added.
        RssiHistogram cell, sum;
        ASSERT_TRUE(RssiHistogram::fromText(r.cell, cell));
        sum.add(-90, 2);
        sum.add(-88);
        sum.add(cell);
        EXPECT_EQ(sum.text(), r.tile) << r.cell;
    }
}

// A GeoPackage's cells are read straight from SQLite: each cell's histogram
// lands in its tile whole, the receiver chosen filters them, and a map whose
// cells break off halfway is refused rather than read as a smaller one.
TEST(AcceptanceSource, AGeoPackagesCellsArriveWholeAndAReadBrokenOffIsRefused)
{
    std::string dir = (std::filesystem::temp_directory_path() / "acceptance-source-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(dir.data()));
    const struct Remove
    {
        std::string dir;
        ~Remove() { std::filesystem::remove_all(dir); }
    } remove{dir};
    const std::string map = dir + "/map.gpkg";
    const CoverageGrid grid(50);
    const int64_t frequency = CoverageCells::frequencyKey(851.0125);
    DriveCoverage drive;
    drive.fileName = "a.KLF";
    drive.sha256 = "a";
    const CoverageGrid::Cell origin = grid.cellOf(48.0, 11.0);
    constexpr int kRows = 40, kColumns = 50; // a few hundred pages of cells
    for (int32_t r = 0; r < kRows; ++r) {
        const CoverageGrid::Cell west = grid.cellOf(grid.rowSouth(origin.row + r) + 1e-6, 11.0);
        for (int32_t c = 0; c < kColumns; ++c) {
            CoverageCells::Record& rec =
                drive.cells.at({CoverageGrid::key({west.row, west.column + c}), frequency, uint8_t((r + c) % 2)});
            for (int k = 0; k < 3 + (r * 5 + c) % 9; ++k)
                rec.histogram.add(-60 - (r * 7 + c * 3 + k * 5) % 61, uint64_t(1 + k % 3));
            rec.drives = 1;
            rec.firstMs = 1000;
            rec.lastMs = 2000;
        }
    }
    const CoverageCells written = drive.cells;
    {
        GpkgCoverageStore store(map, CoverageStore::Settings{});
        std::string error;
        bool already = false;
        ASSERT_TRUE(store.open(error) && store.add(std::move(drive), already, error) && store.finish(error)) << error;
    }

    struct Row
    {
        std::optional<int> receiver;
        uint64_t cells;
    };
    for (const Row& row : {Row{{}, kRows * kColumns}, Row{0, kRows * kColumns / 2}, Row{1, kRows * kColumns / 2}}) {
        DriveFilter filter;
        filter.receiver = row.receiver;
        AcceptanceSource source(50, filter, false);
        std::string error;
        ASSERT_TRUE(source.addMap(map, error)) << error;
        EXPECT_EQ(source.mapCells(), row.cells);
        uint64_t found = 0;
        for (const auto& [key, rec] : written.map()) {
            const auto channel = source.input().channels.find({key.receiver + 1, key.frequency});
            if (row.receiver && *row.receiver != key.receiver) {
                EXPECT_TRUE(channel == source.input().channels.end());
                continue;
            }
            ASSERT_TRUE(channel != source.input().channels.end());
            const auto tile = channel->second.tiles.find(key.cell);
            ASSERT_TRUE(tile != channel->second.tiles.end());
            EXPECT_EQ(tile->second.histogram.text(), rec.histogram.text());
            ++found;
        }
        EXPECT_EQ(found, row.cells);
    }

    // A page of cells in the middle of the table damaged on disk.
    int64_t page = 0, pageSize = 0;
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(map.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* q = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db,
                                     "SELECT pageno, pgsize FROM dbstat WHERE name = 'cells' AND pagetype = 'leaf'"
                                     " ORDER BY path LIMIT 1 OFFSET (SELECT count(*) / 2 FROM dbstat"
                                     " WHERE name = 'cells' AND pagetype = 'leaf')",
                                     -1, &q, nullptr),
                  SQLITE_OK)
            << sqlite3_errmsg(db);
        ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
        page = sqlite3_column_int64(q, 0);
        pageSize = sqlite3_column_int64(q, 1);
        sqlite3_finalize(q);
        sqlite3_close(db);
    }
    ASSERT_GT(page, 1);
    {
        std::fstream file(map, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp((page - 1) * pageSize);
        const std::string garbage(size_t(pageSize), '\xff');
        file.write(garbage.data(), std::streamsize(garbage.size()));
        ASSERT_TRUE(file.good());
    }
    AcceptanceSource source(50, DriveFilter{}, false);
    std::string error;
    EXPECT_FALSE(source.addMap(map, error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
}

// Rayleigh fading: the power of each sample is exponentially distributed
// around the local mean. The median of single readings sits ln 2 (-1.59 dB)
// below that mean; Lee's local means, averaged as power, do not.
TEST(LeeLocalMeans, LocalMeansFindTheMeanPowerThatTheMedianMisses)
{
    const double meanDbm = -90, mhz = 450.0;
    std::mt19937 random(7);
    std::exponential_distribution<double> fading(1.0);
    LeeLocalMeans lee;
    std::vector<int> readings;
    // A straight road north, 0.25 m between samples: 40 wavelengths at
    // 450 MHz (26.6 m) hold about 107 samples.
    const double stepDeg = 0.25 / 111'195.0;
    for (int i = 0; i < 40'000; ++i) {
        DriveSample s;
        s.placed = true;
        s.frequencyMHz = mhz;
        s.latitude = 50 + i * stepDeg;
        s.longitude = 8;
        s.timeMs = 1'700'000'000'000 + i * 10;
        const double mw = std::pow(10.0, meanDbm / 10) * fading(random);
        s.rssi = int8_t(std::clamp<long>(std::lround(10 * std::log10(mw)), -128, 127));
        readings.push_back(s.rssi);
        lee.sample(s);
    }
    lee.finish();
    ASSERT_GT(lee.means().size(), 300u);
    std::vector<double> means;
    for (const LeeLocalMeans::Mean& m : lee.means()) {
        EXPECT_GE(m.samples, LeeLocalMeans::kMinSamples);
        means.push_back(m.dbm);
    }
    std::sort(means.begin(), means.end());
    std::sort(readings.begin(), readings.end());
    const double leeMedian = means[means.size() / 2];
    const double plainMedian = readings[readings.size() / 2];
    EXPECT_NEAR(leeMedian, meanDbm, 1.0);
    EXPECT_NEAR(plainMedian - meanDbm, -1.6, 0.6);
}

TEST(LeeLocalMeans, StretchesWithTooFewSamplesOrBrokenByAGapAreDropped)
{
    const auto at = [](double metresNorth, int64_t ms, int rssi) {
        DriveSample s;
        s.placed = true;
        s.frequencyMHz = 150.0; // 40 wavelengths: 79.9 m
        s.latitude = 50 + metresNorth / 111'195.0;
        s.longitude = 8;
        s.timeMs = ms;
        s.rssi = int8_t(rssi);
        return s;
    };
    LeeLocalMeans lee;
    // 35 samples over 85 m: a whole stretch, one sample short.
    for (int i = 0; i < 35; ++i)
        lee.sample(at(i * 2.5, i * 100, -80));
    // 36 samples, but a 20 s gap after the 20th: two short stretches.
    for (int i = 0; i < 36; ++i)
        lee.sample(at(1000 + i * 2.0, 100'000 + i * 100 + (i >= 20 ? 20'000 : 0), -80));
    // 40 samples of -70 and -80 dBm alternating over 80 m: one mean, as power.
    for (int i = 0; i < 40; ++i)
        lee.sample(at(5000 + i * 2.1, 500'000 + i * 100, i % 2 ? -70 : -80));
    lee.finish();
    ASSERT_EQ(lee.means().size(), 1u);
    EXPECT_NEAR(lee.means()[0].dbm, 10 * std::log10((1e-7 + 1e-8) / 2), 1e-9);
    EXPECT_EQ(lee.means()[0].samples, 40u);
}

} // namespace
