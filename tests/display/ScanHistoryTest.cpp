#include "display/ScanHistory.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Kind = SampleReport::Kind;
constexpr int kNo = ScanHistory::kNoLevel;

// low..high in channel steps, 25 kHz steps (150 MHz at 6000).
ReceiverSettings band(uint32_t low, uint32_t high, bool from991 = false)
{
    const uint8_t block[12] = {uint8_t(low),  uint8_t(low >> 8),  uint8_t(low >> 16),  uint8_t(low >> 24),
                               uint8_t(high), uint8_t(high >> 8), uint8_t(high >> 16), uint8_t(high >> 24),
                               0x00,          0x19,               uint8_t(from991 ? 1 : 0), 0};
    ReceiverSettings s;
    s.storeBlock(block);
    for (int k = 0; k < 10; ++k)
        s.scanChannels[k] = low + uint32_t(k) * 10;
    s.scanChannelsKnown = true;
    s.current = low;
    return s;
}

SampleReport settingsMark(const ReceiverSettings& s)
{
    SampleReport r;
    r.kind = Kind::Settings;
    r.settings = s;
    return r;
}

SampleReport report(Kind kind, int64_t utcMs, std::initializer_list<std::pair<int, int>> entries)
{
    SampleReport r;
    r.kind = kind;
    r.utcMs = utcMs;
    for (auto [index, dBm] : entries)
        r.entries[r.count++] = {uint16_t(index), int8_t(dBm)};
    return r;
}

TEST(ScanHistory, eachReportIsARowAndACellShowsItsColumnsLastReading)
{
    const ReceiverSettings s = band(6000, 7000);
    ScanHistory h;
    h.add(settingsMark(s), s);
    struct Step
    {
        std::initializer_list<std::pair<int, int>> entries;
        std::vector<int> levels; // slots 0..4 after the report
    };
    const std::vector<Step> steps = {
        {{{0, -50}, {1, -60}}, {-50, -60, kNo, kNo, kNo}},
        {{{2, -70}}, {-50, -60, -70, kNo, kNo}},
        {{{0, -40}, {4, -100}}, {-40, -60, -70, kNo, -100}},
        {{{1, -120}}, {-40, -120, -70, kNo, -100}},
    };
    for (std::size_t i = 0; i < steps.size(); ++i)
        h.add(report(Kind::Scan, 1000 + int64_t(i), steps[i].entries), s);
    ASSERT_EQ(h.endRow() - h.firstRow(), steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const std::vector<int> levels = h.levelsAt(i);
        ASSERT_EQ(levels.size(), 10u);
        EXPECT_EQ(std::vector<int>(levels.begin(), levels.begin() + 5), steps[i].levels) << "row " << i;
        // Stepping forward row by row gives what looking back gives.
        std::vector<int> stepped = i == 0 ? std::vector<int>(10, kNo) : h.levelsAt(i - 1);
        h.apply(i, stepped);
        EXPECT_EQ(stepped, levels) << "row " << i;
    }
    EXPECT_EQ(h.row(2).utcMs, 1002);
}

TEST(ScanHistory, holdsKeepMaxMinAndAverageUntilReset)
{
    const ReceiverSettings s = band(6000, 7000);
    ScanHistory h;
    h.add(settingsMark(s), s);
    for (auto [slot, dBm] : std::vector<std::pair<int, int>>{{3, -80}, {3, -40}, {3, -90}, {5, -110}})
        h.add(report(Kind::Scan, 0, {{slot, dBm}}), s);
    const HistorySection& sec = *h.newestSection();
    EXPECT_EQ(sec.maxHold[3], -40);
    EXPECT_EQ(sec.minHold[3], -90);
    EXPECT_DOUBLE_EQ(sec.average(3), -70.0);
    EXPECT_EQ(sec.count[5], 1u);
    EXPECT_EQ(sec.count[0], 0u);

    h.resetHolds();
    EXPECT_EQ(sec.count[3], 0u);
    h.add(report(Kind::Scan, 0, {{3, -100}}), s);
    EXPECT_EQ(sec.maxHold[3], -100);
    EXPECT_EQ(sec.minHold[3], -100);
    // The rows themselves stay.
    EXPECT_EQ(h.endRow(), 5u);
}

TEST(ScanHistory, channelsChangingStartsASection)
{
    const ReceiverSettings a = band(6000, 7000);
    ReceiverSettings stepChanged = a;
    {
        std::array<uint8_t, 12> block = a.block();
        block[9] = 0x32; // 50 kHz
        stepChanged.storeBlock(block.data());
    }
    ReceiverSettings listChanged = a;
    listChanged.scanChannels[9] += 1;
    ReceiverSettings tuned = a;
    tuned.current += 1;

    struct Case
    {
        const char* what;
        Kind firstKind;
        ReceiverSettings second;
        Kind secondKind;
        bool newSection;
    };
    const Case cases[] = {
        {"same band and list", Kind::Scan, a, Kind::Scan, false},
        {"other band", Kind::Scan, band(8000, 9000), Kind::Scan, true},
        {"other step", Kind::Scan, stepChanged, Kind::Scan, true},
        {"other scan list", Kind::Scan, listChanged, Kind::Scan, true},
        {"scan list in table mode", Kind::Table, listChanged, Kind::Table, false},
        {"scan to table", Kind::Scan, a, Kind::Table, true},
        {"single, tuned elsewhere", Kind::Single, tuned, Kind::Single, true},
    };
    for (const Case& c : cases) {
        ScanHistory h;
        h.add(settingsMark(a), a);
        h.add(report(c.firstKind, 0, {{0, -50}}), a);
        h.add(settingsMark(c.second), c.second);
        h.add(report(c.secondKind, 0, {{0, -60}}), c.second);
        ASSERT_EQ(h.sections().size(), c.newSection ? 2u : 1u) << c.what;
        EXPECT_EQ(h.sectionOf(1).firstRow, c.newSection ? 1u : 0u) << c.what;
        // A new section's holds start empty.
        EXPECT_EQ(h.newestSection()->maxHold[0], c.newSection ? -60 : -50) << c.what;
    }
}

TEST(ScanHistory, columnsAreTheChannelsTheGraphShows)
{
    // Single: one column, the channel tuned when the block arrived.
    ReceiverSettings s = band(6000, 7000);
    s.current = 6040;
    ScanHistory single;
    single.add(report(Kind::Single, 0, {{0, -77}}), s);
    ASSERT_EQ(single.newestSection()->columns.size(), 1u);
    EXPECT_EQ(single.newestSection()->columns[0].channel, 41);
    EXPECT_DOUBLE_EQ(single.newestSection()->columns[0].mhz, 151.0);

    // Scan: the scan list.
    ScanHistory scan;
    scan.add(report(Kind::Scan, 0, {{9, -70}}), s);
    EXPECT_EQ(scan.newestSection()->columns[9].channel, 91);
    EXPECT_DOUBLE_EQ(scan.newestSection()->columns[9].mhz, 152.25);

    // Table: the band's positions; numbering from 991 puts table channel 991
    // (index 990) at the band's first position and channel 1 at the 35th.
    const ReceiverSettings n991 = band(6000, 6099, true);
    ScanHistory table;
    table.add(report(Kind::Table, 0, {{990, -60}, {0, -65}, {5000, -99}}), n991);
    const HistorySection& t = *table.newestSection();
    ASSERT_EQ(t.columns.size(), 100u);
    const std::vector<int> levels = table.levelsAt(0);
    EXPECT_EQ(levels[0], -60);
    EXPECT_EQ(levels[34], -65);
    EXPECT_EQ(t.columns[34].channel, 1);
    // An index outside the band is not placed anywhere.
    EXPECT_EQ(table.row(0).count, 2);
}

TEST(ScanHistory, theRingDropsTheOldestRowsAndTheirSections)
{
    const ReceiverSettings a = band(6000, 7000);
    const ReceiverSettings b = band(8000, 9000);
    ScanHistory h(4);
    h.add(settingsMark(a), a);
    h.add(report(Kind::Scan, 0, {{0, -50}}), a);
    h.add(report(Kind::Scan, 1, {{1, -51}}), a);
    h.add(settingsMark(b), b);
    for (int i = 0; i < 3; ++i)
        h.add(report(Kind::Scan, 2 + i, {{2, -60 - i}}), b);
    EXPECT_EQ(h.firstRow(), 1u);
    EXPECT_EQ(h.endRow(), 5u);
    ASSERT_EQ(h.sections().size(), 2u);
    // Looking back stops at the oldest row kept: slot 0 was read in a row
    // that is gone.
    const std::vector<int> levels = h.levelsAt(1);
    EXPECT_EQ(levels[0], kNo);
    EXPECT_EQ(levels[1], -51);
    // Nor does it read the newer row that took the old one's place.
    EXPECT_EQ(levels[2], kNo);

    h.add(report(Kind::Scan, 5, {{2, -70}}), b);
    EXPECT_EQ(h.sections().size(), 1u);
    EXPECT_EQ(h.row(h.firstRow()).utcMs, 2);
    EXPECT_EQ(h.capacity(), 4u);
}

// A level is found from a checkpoint and a short walk, not by walking back
// to the section's start: over long sections, a ring that wraps through
// them and a column that is never read, one column's level and the whole
// row's agree with stepping forward through every row.
TEST(ScanHistory, aColumnsLevelAgreesWithSteppingThroughEveryRow)
{
    constexpr uint64_t K = ScanHistory::kCheckpointRows;
    const ReceiverSettings a = band(6000, 7000);
    const ReceiverSettings b = band(8000, 9000);
    struct Case
    {
        const char* what;
        std::size_t capacity;
        uint64_t rowsOfA; // then as many of b
    };
    const Case cases[] = {
        {"one section, no wrap", 4 * K, 3 * K + 17},
        {"two sections, no wrap", 8 * K, 2 * K + 5},
        {"the ring wraps inside a long section", 2 * K + 99, 3 * K + 41},
        {"the ring wraps across the sections", K + 7, 2 * K + 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScanHistory h(c.capacity);
        // What every row shows, stepped forward from the section's start;
        // a reading older than the oldest row kept does not count.
        std::vector<std::vector<std::pair<int, uint64_t>>> expected; // per row: level and the row read
        std::vector<std::pair<int, uint64_t>> levels;
        uint32_t seed = 12345;
        auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
        for (uint64_t n = 0; n < 2 * c.rowsOfA; ++n) {
            const ReceiverSettings& s = n < c.rowsOfA ? a : b;
            if (n == 0 || n == c.rowsOfA) {
                h.add(settingsMark(s), s);
                levels.assign(10, {kNo, 0});
            }
            // Slots 0..8 are read now and then (slot 8 rarely); slot 9 never.
            SampleReport r = report(Kind::Scan, int64_t(n), {});
            const int entries = 1 + int(next() % 2); // a report without readings is no row
            for (int e = 0; e < entries; ++e) {
                const uint32_t pick = next() % 1000;
                const int slot = pick == 0 ? 8 : int(pick % 8);
                const int dBm = -40 - int(next() % 80);
                r.entries[r.count++] = {uint16_t(slot), int8_t(dBm)};
                levels[std::size_t(slot)] = {dBm, n};
            }
            h.add(r, s);
            expected.push_back(levels);
        }
        for (uint64_t n = h.firstRow(); n < h.endRow(); ++n) {
            // Every 37th row, and the rows either side of each checkpoint.
            if (n % 37 != 0 && (n + 1) % K > 2)
                continue;
            const std::vector<int> row = h.levelsAt(n);
            for (int column = 0; column < 10; ++column) {
                const auto [level, readIn] = expected[n][std::size_t(column)];
                const int want = level == kNo || readIn < h.firstRow() ? kNo : level;
                ASSERT_EQ(h.levelAt(n, column), want) << "row " << n << " column " << column;
                ASSERT_EQ(row[std::size_t(column)], want) << "row " << n << " column " << column;
            }
        }
        EXPECT_EQ(h.levelAt(h.endRow() - 1, 10), kNo); // past the section's columns
    }
}

TEST(ScanHistory, defaultDepthHoldsHalfAnHourAtTheLineRateAndThenWraps)
{
    ScanHistory h;
    // 38400 baud, 20-byte scan report frames.
    EXPECT_GE(double(h.capacity()), 30 * 60 * 38400.0 / 10 / 20);
    const ReceiverSettings s = band(6000, 7000);
    for (std::size_t i = 0; i < h.capacity() + 1000; ++i)
        h.add(report(Kind::Scan, int64_t(i), {{0, -50}, {1, -50}, {2, -50}, {3, -50}, {4, -50}}), s);
    EXPECT_EQ(h.endRow() - h.firstRow(), h.capacity());
    EXPECT_EQ(h.row(h.endRow() - 1).utcMs, int64_t(h.capacity() + 999));
    EXPECT_EQ(h.row(h.firstRow()).utcMs, 1000);
}

TEST(ScanHistory, csvHasOneLinePerReportAndAColumnPerChannelOfEverySection)
{
    ReceiverSettings a = band(6000, 7000);
    ScanHistory h;
    h.add(settingsMark(a), a);
    // 2026-12-09 19:56:57.123 UTC
    const int64_t t = 1796846217123;
    h.add(report(Kind::Scan, t, {{0, -50}, {2, -7}}), a);
    h.add(report(Kind::Scan, t + 1005, {{1, -120}}), a);
    ReceiverSettings s = a;
    s.current = 6005;
    h.add(report(Kind::Single, t + 2000, {{0, -88}}), s);

    std::ostringstream out;
    h.writeCsv(out);
    const std::string header = "UTC,150.00000,150.12500,150.25000,150.50000,150.75000,151.00000,151.25000,151.50000,"
                               "151.75000,152.00000,152.25000\n";
    EXPECT_EQ(out.str(), header
                  + "2026-12-09T19:56:57.123Z,-50,,,-7,,,,,,,\n"
                    "2026-12-09T19:56:58.128Z,,,-120,,,,,,,,\n"
                    "2026-12-09T19:56:59.123Z,,-88,,,,,,,,,\n");
}

} // namespace
