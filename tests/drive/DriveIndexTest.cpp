// The drive index against a plain read of the whole log: the drive model's
// placement of every sample, and the reports read front to back.
#include "drive/DriveIndex.h"
#include "drive/DriveReader.h"
#include "drive/DriveTestLog.h"
#include "platform/UtcTime.h"
#include "log/KlfPullReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <tuple>

namespace {

constexpr int kStartSecond = 8 * 3600; // 08:00:00 UTC
constexpr int kFixes = 520;
constexpr int kReportsPerFix = 40;
constexpr int kJumpAtFix = 300; // the receiver was off for seven minutes before this fix
constexpr int kUnusedFix = 100; // no fix: it places nothing

int64_t utcOf(int secondOfDay)
{
    int64_t ms = 0;
    UtcTime::fromCivil(2004, 3, 9, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60, ms);
    return ms;
}

// A drive as the logger records one, 21 000 records over several
// checkpoints: scan reports of both receivers between fixes once a second,
// with a band change, a new scan list, single blocks, table reports, a fix
// without a fix, a bad checksum and a time jump among them.
struct GeneratedDrive
{
    GeneratedDrive()
    {
        DriveTestLog ci;
        ci.scanChannelList();
        log.header(0x03, ci.bytes);
        int second = kStartSecond;
        int k = 0;
        for (int fix = 0; fix < kFixes; ++fix) {
            if (fix == kJumpAtFix)
                second += 7 * 60;
            const double lat = 40.5 + 0.0001 * fix, lon = -74.4 + 0.00015 * fix;
            log.gpsAtSecond(lat, lon, second, fix == kUnusedFix ? 0x00 : 0xE0);
            for (int j = 0; j < kReportsPerFix; ++j, ++k) {
                const int a = -120 + k * 7 % 80, b = -110 + k * 13 % 70;
                if (fix == 200 && j == 10)
                    log.receiverSetup(0x03, DriveTestLog::block(DriveTestLog::kLowEdge + 400, DriveTestLog::kHighEdge + 400, 5000),
                                      DriveTestLog::block(DriveTestLog::kLowEdge, DriveTestLog::kHighEdge, DriveTestLog::kStep25k));
                else if (fix == 250 && j == 5)
                    log.scanChannelList(DriveTestLog::kLowEdge + 40);
                else if (fix % 50 == 7 && j == 20)
                    log.single(fix % 2, {a, a - 4, a + 2});
                else if (fix >= 450 && j % 2 == 0)
                    log.table({{0, k % 300, a}, {1, k % 200, b}});
                else
                    log.scan({{0, k % 10, a}, {1, (k + 3) % 10, b}, {0, (k + 5) % 10, b}});
                if (fix == 123 && j == 7)
                    log.bytes[log.bytes.size() - 3] ^= 0x01; // its checksum fails
            }
            ++second;
        }
        path = (std::filesystem::temp_directory_path() / ("drive-index-" + std::to_string(::getpid()) + ".KLF")).string();
        log.write(path);
    }
    ~GeneratedDrive() { std::remove(path.c_str()); }

    DriveTestLog log;
    std::string path;
};

const GeneratedDrive& drive()
{
    static const GeneratedDrive d;
    return d;
}

const DriveIndex& index()
{
    static const DriveIndex i = [] {
        DriveIndex built;
        EXPECT_TRUE(built.build(drive().path));
        return built;
    }();
    return i;
}

// Every report front to back, and the receivers' state before each record.
struct FullRead
{
    FullRead()
    {
        std::FILE* f = std::fopen(drive().path.c_str(), "rb");
        KlfPullReader in(f);
        in.readHeader();
        DriveReports reports;
        reports.header(in);
        KlfPullReader::Record r;
        for (uint64_t i = 0; in.next(r); ++i) {
            before.push_back(reports.receivers());
            if (r.checksumOk)
                reports.take(r, i, &all);
        }
        std::fclose(f);
    }
    std::vector<DriveReports::Receivers> before;
    std::vector<DriveReports::Report> all;
};

bool sameReport(const DriveReports::Report& a, const DriveReports::Report& b)
{
    if (a.record != b.record || a.receiver != b.receiver || a.current != b.current || a.report.kind != b.report.kind
        || a.report.count != b.report.count || a.report.settings.has_value() != b.report.settings.has_value())
        return false;
    for (int i = 0; i < a.report.count; ++i)
        if (a.report.entries[size_t(i)].index != b.report.entries[size_t(i)].index
            || a.report.entries[size_t(i)].dBm != b.report.entries[size_t(i)].dBm)
            return false;
    if (a.report.settings
        && (a.report.settings->block() != b.report.settings->block()
            || a.report.settings->scanChannels != b.report.settings->scanChannels
            || a.report.settings->current != b.report.settings->current))
        return false;
    return true;
}

TEST(DriveIndex, PlacesEveryRecordWhereTheDriveModelPlacesItsSamples)
{
    RecordingSink sink;
    const DriveSummary summary = DriveReader().read(drive().path, sink);
    const DriveIndex& idx = index();
    EXPECT_EQ(idx.summary().status, summary.status);
    EXPECT_EQ(idx.records(), summary.records);
    EXPECT_EQ(idx.summary().fixesUsed, summary.fixesUsed);
    EXPECT_EQ(idx.summary().checksumErrors, 1u);
    ASSERT_GT(summary.samplesAcrossTimeJump, 0u);
    ASSERT_GT(idx.records(), 5 * DriveIndex::kCheckpointRecords);

    for (const DriveSample& s : sink.samples) {
        const DriveIndex::Position p = idx.positionAt(s.record);
        ASSERT_EQ(p.placed, s.placed) << s.record;
        if (!s.placed)
            continue;
        ASSERT_EQ(p.timeMs, s.timeMs) << s.record;
        ASSERT_DOUBLE_EQ(p.latitude, s.latitude) << s.record;
        ASSERT_DOUBLE_EQ(p.longitude, s.longitude) << s.record;
    }
    for (const DriveFix& f : sink.fixes) {
        if (!f.used)
            continue;
        const DriveIndex::Position p = idx.positionAt(f.record);
        EXPECT_TRUE(p.placed);
        EXPECT_EQ(p.timeMs, f.timeMs);
        EXPECT_EQ(p.latitude, f.latitude);
        EXPECT_EQ(p.longitude, f.longitude);
    }
}

TEST(DriveIndex, FindsTheRecordAtATime)
{
    // Fix n is record 41 n, at 08:00:00 + n s; 40 reports between fixes.
    const uint64_t perFix = kReportsPerFix + 1;
    struct Case
    {
        const char* what;
        int64_t timeMs;
        std::optional<uint64_t> record;
    };
    const int64_t start = utcOf(kStartSecond);
    const Case cases[] = {
        {"the first fix", start, 0},
        {"a millisecond before the first fix", start - 1, std::nullopt},
        {"a fix", start + 10000, 10 * perFix},
        {"half way to the next fix", start + 10500, 10 * perFix + 20},
        {"a record's time, rounded down from 24.4 ms", start + 10024, 10 * perFix + 1},
        {"just before a record's time", start + 10000 + 1000 * 20 / 41 - 1, 10 * perFix + 19},
        {"around the fix without a fix", start + 100000, 100 * perFix},
        {"the last fix before the jump", utcOf(kStartSecond + kJumpAtFix - 1), (kJumpAtFix - 1) * perFix},
        {"in the jump", utcOf(kStartSecond + kJumpAtFix + 60), std::nullopt},
        {"the first fix after the jump", utcOf(kStartSecond + kJumpAtFix + 7 * 60), kJumpAtFix * perFix},
        {"the last fix", utcOf(kStartSecond + 7 * 60 + kFixes - 1), (kFixes - 1) * perFix},
        {"after the last fix", utcOf(kStartSecond + 7 * 60 + kFixes - 1) + 1, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto got = index().recordAt(c.timeMs);
        ASSERT_EQ(got.has_value(), c.record.has_value());
        if (!got)
            continue;
        EXPECT_EQ(*got, *c.record);
        EXPECT_LE(index().positionAt(*got).timeMs, c.timeMs);
        const DriveIndex::Position next = index().positionAt(*got + 1);
        if (next.placed) {
            EXPECT_GT(next.timeMs, c.timeMs);
        }
    }
}

TEST(DriveIndex, ReadsAStretchAsAFullReadSeesIt)
{
    static const FullRead full;
    const DriveIndex& idx = index();
    const uint64_t cp = DriveIndex::kCheckpointRecords;
    const uint64_t n = idx.records();
    const std::pair<uint64_t, uint64_t> stretches[] = {
        {0, 300},                 // the start, with the header's settings
        {cp - 5, cp + 5},         // across a checkpoint
        {2 * cp, 2 * cp + 1},     // one record, on a checkpoint
        {200 * 41 + 5, 200 * 41 + 600}, // across the band change
        {250 * 41, 250 * 41 + 100},      // across the new scan list
        {123 * 41 + 5, 123 * 41 + 12},   // across the bad checksum
        {n - 700, n},             // the end, in table mode
        {n - 10, n + 50},         // past the end
    };
    std::FILE* f = std::fopen(drive().path.c_str(), "rb");
    for (const auto& [from, to] : stretches) {
        SCOPED_TRACE(::testing::Message() << from << " .. " << to);
        std::vector<DriveReports::Report> got;
        ASSERT_TRUE(idx.readReports(f, from, to, got));
        // The settings in force at `from`, then the reports of the stretch.
        std::vector<DriveReports::Report> expected;
        DriveReports at;
        at.resume(full.before[from]);
        at.settingsReports(from, expected);
        for (const DriveReports::Report& r : full.all)
            if (r.record >= from && r.record < to)
                expected.push_back(r);
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            ASSERT_TRUE(sameReport(got[i], expected[i])) << i << " record " << got[i].record;
            EXPECT_EQ(got[i].report.utcMs, idx.clockAt(got[i].record));
        }
    }
    std::fclose(f);
}

TEST(DriveIndex, ReportsHoldWhatTheDriveModelReadsWithItsTimes)
{
    static const FullRead full;
    RecordingSink sink;
    DriveReader().read(drive().path, sink);
    // (record, receiver) -> the readings of the drive model's samples there.
    std::map<std::pair<uint64_t, int>, std::vector<int>> samples;
    for (const DriveSample& s : sink.samples)
        if (s.mode != SampleMode::Single)
            samples[{s.record, s.receiver}].push_back(s.rssi);
    std::vector<DriveReports::Report> got;
    std::FILE* f = std::fopen(drive().path.c_str(), "rb");
    ASSERT_TRUE(index().readReports(f, 0, index().records(), got));
    std::fclose(f);
    std::size_t rows = 0;
    for (const DriveReports::Report& r : got) {
        if (r.report.kind == SampleReport::Kind::Settings || r.report.kind == SampleReport::Kind::Single)
            continue;
        ++rows;
        const auto it = samples.find({r.record, r.receiver});
        ASSERT_NE(it, samples.end()) << r.record;
        for (int i = 0; i < r.report.count; ++i)
            EXPECT_NE(std::find(it->second.begin(), it->second.end(), r.report.entries[size_t(i)].dBm), it->second.end());
        const DriveIndex::Position p = index().positionAt(r.record);
        if (p.placed) {
            EXPECT_EQ(r.report.utcMs, p.timeMs);
        }
    }
    EXPECT_EQ(rows, samples.size());
}

TEST(DriveIndex, AStretchBeforeAnyFixHasTheFirstFixsClockAndNoPlace)
{
    DriveTestLog log;
    log.header(0x01).scan({{0, 1, -70}}).scan({{0, 2, -71}}).gpsAtSecond(40, -74, 3600).scan({{0, 3, -72}});
    const std::string path = (std::filesystem::temp_directory_path() / ("drive-index-early-" + std::to_string(::getpid()) + ".KLF")).string();
    log.write(path);
    DriveIndex idx;
    ASSERT_TRUE(idx.build(path));
    EXPECT_EQ(idx.records(), 4u);
    EXPECT_FALSE(idx.positionAt(0).placed);
    EXPECT_EQ(idx.clockAt(0), utcOf(3600));
    EXPECT_TRUE(idx.positionAt(2).placed);
    EXPECT_FALSE(idx.positionAt(3).placed) << "after the last fix";
    EXPECT_EQ(idx.clockAt(3), utcOf(3600));
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::vector<DriveReports::Report> got;
    ASSERT_TRUE(idx.readReports(f, 1, 4, got));
    std::fclose(f);
    ASSERT_EQ(got.size(), 2u + 2u) << "settings of both receivers, then R1's two rows";
    EXPECT_EQ(got[2].record, 1u);
    EXPECT_EQ(got[2].report.entries[0].dBm, -71);
    EXPECT_EQ(got[3].record, 3u);
    std::remove(path.c_str());
}

// A log without GPS still holds the device's clock markers: its rows are
// timed by them rather than all at midnight of 1970.
TEST(DriveIndex, WithoutAFixTheDevicesClockMarkersTimeTheRecords)
{
    const auto marker = [](int hours, int minutes, int seconds, uint8_t number) {
        return std::vector<uint8_t>{uint8_t(seconds), uint8_t(minutes), uint8_t(hours), 9, 3, 4, number};
    };
    DriveTestLog log;
    log.header(0x01).scan({{0, 1, -70}}).record(4, marker(12, 0, 5, 1)).scan({{0, 2, -71}})
        .record(4, marker(12, 0, 6, 2)).scan({{0, 3, -72}});
    const std::string path = (std::filesystem::temp_directory_path() / ("drive-index-clock-" + std::to_string(::getpid()) + ".KLF")).string();
    log.write(path);
    DriveIndex idx;
    ASSERT_TRUE(idx.build(path));
    ASSERT_EQ(idx.records(), 5u);
    const int64_t at5 = utcOf(12 * 3600 + 5), at6 = utcOf(12 * 3600 + 6); // 9 March 2004, as the fixes' helper
    EXPECT_EQ(idx.clockAt(0), at5) << "before the first marker: the first";
    EXPECT_EQ(idx.clockAt(2), at5);
    EXPECT_EQ(idx.clockAt(4), at6);
    std::remove(path.c_str());
}

TEST(DriveIndex, ACancelledOrMissingLogIsNoIndex)
{
    DriveIndex idx;
    EXPECT_FALSE(idx.build("/nonexistent/drive.KLF"));
    EXPECT_EQ(idx.summary().status, DriveSummary::Status::Unreadable);

    // Past the first megabyte the build asks whether to go on.
    DriveTestLog big;
    big.header(0x03);
    for (int i = 0; i < 70000; ++i)
        big.scan({{0, i % 10, -80}});
    const std::string path = (std::filesystem::temp_directory_path() / ("drive-index-big-" + std::to_string(::getpid()) + ".KLF")).string();
    big.write(path);
    int asked = 0;
    EXPECT_FALSE(idx.build(path, [&](uint64_t, uint64_t) { return ++asked < 1; }));
    EXPECT_EQ(idx.summary().status, DriveSummary::Status::Cancelled);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(idx.build(path, [&](uint64_t, uint64_t) { return true; }));
    EXPECT_EQ(idx.records(), 70000u);
    std::remove(path.c_str());
}

} // namespace
