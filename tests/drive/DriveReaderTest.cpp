// The drive model against logs built record by record.
#include "drive/DriveReader.h"
#include "drive/SampleQueue.h"
#include "platform/UtcTime.h"
#include "drive/DriveTestLog.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct Read
{
    DriveSummary summary;
    RecordingSink sink;
};

Read readLog(const std::vector<uint8_t>& bytes, const DriveFilter& filter = {})
{
    Read out;
    std::FILE* f = fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
    DriveReader reader;
    reader.setFilter(filter);
    out.summary = reader.read(f, out.sink);
    std::fclose(f);
    return out;
}

std::vector<uint8_t> channelInfoRecord()
{
    DriveTestLog ci;
    ci.scanChannelList();
    return ci.bytes;
}

int64_t at(int minute, int second)
{
    int64_t ms = 0;
    UtcTime::fromCivil(2004, 3, 9, 12, minute, second, ms);
    return ms;
}

TEST(DriveReader, SamplesBetweenTwoFixesLieOnTheLineByRecordIndex)
{
    DriveTestLog log;
    log.header(0x03, channelInfoRecord())
        .scan({{0, 0, -70}})          // 0: before the first fix
        .gps(40.0, -74.0, 0)          // 1
        .scan({{0, 1, -80}})          // 2: a quarter of the way
        .scan({{1, 2, -60}, {0, 3, -90}}) // 3: half way
        .table({{0, 99, -55}})        // 4: three quarters
        .gps(40.4, -73.0, 8)          // 5
        .scan({{0, 4, -65}});         // 6: after the last fix
    const Read r = readLog(log.bytes);

    EXPECT_EQ(r.summary.status, DriveSummary::Status::Ok) << r.summary.error;
    EXPECT_TRUE(r.summary.hasHeader);
    EXPECT_EQ(r.summary.records, 7u);
    EXPECT_EQ(r.summary.fixesUsed, 2u);
    EXPECT_EQ(r.summary.fixesSkipped, 0u);
    EXPECT_EQ(r.summary.samplesPlaced, 4u);
    EXPECT_EQ(r.summary.samplesNotPlaced, 2u);
    ASSERT_EQ(r.sink.samples.size(), 6u);

    struct Expect { uint64_t record; int receiver; int slot; int rssi; double f; };
    const Expect placed[] = {{2, 0, 1, -80, 0.25}, {3, 1, 2, -60, 0.5}, {3, 0, 3, -90, 0.5}, {4, 0, 0, -55, 0.75}};
    for (size_t i = 0; i < 4; ++i) {
        const DriveSample& s = r.sink.samples[i + 1];
        const Expect& e = placed[i];
        SCOPED_TRACE(i);
        EXPECT_TRUE(s.placed);
        EXPECT_EQ(s.record, e.record);
        EXPECT_EQ(s.receiver, e.receiver);
        EXPECT_EQ(s.rssi, e.rssi);
        EXPECT_NEAR(s.latitude, 40.0 + 0.4 * e.f, 1e-6);
        EXPECT_NEAR(s.longitude, -74.0 + 1.0 * e.f, 1e-6);
        EXPECT_EQ(s.timeMs, at(0, 0) + int64_t(8000 * e.f));
    }
    EXPECT_FALSE(r.sink.samples.front().placed);
    EXPECT_FALSE(r.sink.samples.back().placed);
    EXPECT_EQ(r.sink.samples.back().record, 6u);

    // Scan slots carry their channel and frequency, table entries channel = index + 1.
    EXPECT_EQ(r.sink.samples[1].mode, SampleMode::Scan);
    EXPECT_EQ(r.sink.samples[1].channel, 2);
    EXPECT_NEAR(r.sink.samples[1].frequencyMHz, 851.025, 1e-9);
    EXPECT_EQ(r.sink.samples[2].channel, 13); // receiver 2's slot 2 is lowEdge + 12
    EXPECT_EQ(r.sink.samples[4].mode, SampleMode::Table);
    EXPECT_EQ(r.sink.samples[4].channel, 100);
    EXPECT_NEAR(r.sink.samples[4].frequencyMHz, 851.0 + 99 * 0.025, 1e-9);

    // The second fix comes after the samples it places, and the fixes carry the message's values.
    ASSERT_EQ(r.sink.fixes.size(), 2u);
    const auto second = std::find_if(r.sink.events.begin(), r.sink.events.end(),
                                     [](const RecordingSink::Event& e) { return e.isFix && e.fix.record == 5; });
    ASSERT_NE(second, r.sink.events.end());
    EXPECT_EQ(second - r.sink.events.begin(), 6);
    const DriveFix& f = r.sink.fixes[0];
    EXPECT_TRUE(f.used);
    EXPECT_EQ(f.status, 7);
    EXPECT_EQ(f.satellites, 7);
    EXPECT_DOUBLE_EQ(f.speedMps, 12.5);
    EXPECT_DOUBLE_EQ(f.headingDeg, 90.0);
    EXPECT_EQ(UtcTime::iso8601(f.timeMs), "2004-03-09T12:00:00.000Z");

    EXPECT_EQ(r.summary.receivers[0].samples, 3u);
    EXPECT_EQ(r.summary.receivers[0].lowest, -90);
    EXPECT_EQ(r.summary.receivers[0].highest, -55);
    EXPECT_EQ(r.summary.receivers[1].samples, 1u);
    EXPECT_EQ(r.summary.receivers[1].lowest, -60);
}

TEST(DriveReader, AcrossTheAntimeridianTheShortWayRound)
{
    DriveTestLog log;
    log.header(0x03, channelInfoRecord())
        .gps(-17.0, 179.8, 0)
        .scan({{0, 0, -70}})
        .scan({{0, 1, -70}})
        .scan({{0, 2, -70}})
        .gps(-17.0, -179.8, 1);
    const Read r = readLog(log.bytes);
    ASSERT_EQ(r.sink.samples.size(), 3u);
    EXPECT_NEAR(r.sink.samples[0].longitude, 179.9, 1e-6);
    EXPECT_NEAR(std::fabs(r.sink.samples[1].longitude), 180.0, 1e-6);
    EXPECT_NEAR(r.sink.samples[2].longitude, -179.9, 1e-6);
}

TEST(DriveReader, FixesWithoutAFixOrWithAnImpossiblePositionPlaceNothing)
{
    DriveTestLog log;
    log.header(0x03, channelInfoRecord())
        .gps(10.0, 20.0, 0)                 // 0: 3D fix
        .scan({{0, 0, -70}})                // 1
        .gps(50.0, 50.0, 2, 0x60)           // 2: acquiring satellites
        .gps(95.0, 20.0, 3)                 // 3: beyond the pole
        .gps(10.0, 200.0, 4)                // 4: beyond the antimeridian
        .record(0, std::vector<uint8_t>(40, 0)) // 5: a message cut short
        .scan({{0, 0, -71}})                // 6
        .gps(10.6, 20.6, 6, 0xC0);          // 7: 2D fix
    const Read r = readLog(log.bytes);

    EXPECT_EQ(r.summary.fixesUsed, 2u);
    EXPECT_EQ(r.summary.fixesSkipped, 4u);
    ASSERT_EQ(r.sink.fixes.size(), 6u);
    EXPECT_FALSE(r.sink.fixes[1].used);
    EXPECT_EQ(r.sink.fixes[1].status, 3);
    ASSERT_EQ(r.sink.samples.size(), 2u);
    // Placed between fixes 0 and 7, as if the others were not there.
    EXPECT_NEAR(r.sink.samples[0].latitude, 10.0 + 0.6 / 7, 1e-6);
    EXPECT_NEAR(r.sink.samples[1].latitude, 10.0 + 0.6 * 6 / 7, 1e-6);
    EXPECT_EQ(r.summary.samplesPlaced, 2u);
}

TEST(DriveReader, ImpossibleDateSkipsTheFix)
{
    DriveTestLog log;
    auto p = DriveTestLog::gpsPayload(1.0, 1.0);
    p[4] = 2;
    p[5] = 30; // 30 February
    log.header().record(0, p);
    const Read r = readLog(log.bytes);
    ASSERT_EQ(r.sink.fixes.size(), 1u);
    EXPECT_FALSE(r.sink.fixes[0].timeValid);
    EXPECT_EQ(r.summary.fixesSkipped, 1u);
}

TEST(DriveReader, FrequenciesFollowTheSettingsInForce)
{
    // Receiver 1 moves to a band high up in channel steps (5 kHz steps above
    // 1 GHz: values past 65535) while receiver 2 is switched off and keeps its band.
    const auto high = DriveTestLog::block(300000, 300100, 1280);
    const auto ignored = DriveTestLog::block(1, 2, 256);
    DriveTestLog log;
    log.header(0x03)
        .currentFrequency(34050, 34060)
        .single(0, {-50, -51})              // 1: 851.250 MHz, channel 11
        .single(1, {-70})                   // 2: 851.500 MHz
        .receiverSetup(0x01, high, ignored) // 3
        .currentFrequency(300007, 34061)    // 4
        .single(0, {-60, -61, -62})         // 5: 1500.035 MHz, channel 8
        .single(1, {-80})                   // 6: still 25 kHz steps
        .single(0, {});                     // 7: measured nothing
    const Read r = readLog(log.bytes);

    ASSERT_EQ(r.sink.samples.size(), 4u);
    const struct { int receiver; int rssi; int channel; double mhz; } expect[] = {
        {0, -50, 11, 851.250}, {1, -70, 21, 851.500}, {0, -61, 8, 1500.035}, {1, -80, 22, 851.525}};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.sink.samples[i].mode, SampleMode::Single);
        EXPECT_EQ(r.sink.samples[i].receiver, expect[i].receiver);
        EXPECT_EQ(r.sink.samples[i].rssi, expect[i].rssi);
        EXPECT_EQ(r.sink.samples[i].channel, expect[i].channel);
        EXPECT_NEAR(r.sink.samples[i].frequencyMHz, expect[i].mhz, 1e-9);
    }
    EXPECT_EQ(r.summary.samplesNotPlaced, 4u) << "no fix at all";
}

TEST(DriveReader, WithoutSettingsOrChannelListSamplesHaveNoFrequency)
{
    DriveTestLog log;
    log.header(0x00).scan({{0, 3, -70}}).table({{1, 5, -66}});
    const Read r = readLog(log.bytes);
    ASSERT_EQ(r.sink.samples.size(), 2u);
    EXPECT_EQ(r.sink.samples[0].frequencyMHz, 0.0);
    EXPECT_EQ(r.sink.samples[0].channel, 0);
    EXPECT_EQ(r.sink.samples[1].frequencyMHz, 0.0);
    EXPECT_EQ(r.sink.samples[1].channel, 6);
}

TEST(DriveReader, ReportEntriesOutsideTheModelOrRepeatedAreNotSamples)
{
    DriveTestLog log;
    log.header(0x03, channelInfoRecord())
        .scan({{0, 1, -70}, {2, 1, -70}, {0, 10, -70}, {1, 1, -70}}) // receiver 2, slot 10: ignored; padding repeats
        .table({{0, 3072, -50}, {5, 7, -51}, {0, 8, 0}});             // index past the table; 0 dBm: never received
    const Read r = readLog(log.bytes);
    ASSERT_EQ(r.sink.samples.size(), 3u);
    EXPECT_EQ(r.sink.samples[0].receiver, 0);
    EXPECT_EQ(r.sink.samples[1].receiver, 1);
    EXPECT_EQ(r.sink.samples[2].receiver, 1) << "any receiver byte but 0 is receiver 2";
    EXPECT_EQ(r.sink.samples[2].channel, 8);
}

TEST(DriveReader, FilterChoosesReceiverFrequencyOrChannel)
{
    DriveTestLog log;
    log.header(0x03, channelInfoRecord())
        .gps(1.0, 1.0, 0)
        .scan({{0, 0, -70}, {0, 1, -71}, {1, 0, -72}, {1, 1, -73}})
        .gps(1.1, 1.1, 1);
    struct Case { const char* name; DriveFilter filter; std::vector<int> rssi; };
    DriveFilter r2, mhz, ch, none;
    r2.receiver = 1;
    mhz.frequencyMHz = 851.025;
    ch.channel = 11;
    const Case cases[] = {{"both", none, {-70, -71, -72, -73}},
                          {"receiver 2", r2, {-72, -73}},
                          {"851.025 MHz", mhz, {-71}},
                          {"channel 11", ch, {-72}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Read r = readLog(log.bytes, c.filter);
        std::vector<int> got;
        for (const DriveSample& s : r.sink.samples)
            got.push_back(s.rssi);
        EXPECT_EQ(got, c.rssi);
        EXPECT_EQ(r.summary.samplesPlaced, c.rssi.size());
        EXPECT_EQ(r.sink.fixes.size(), 2u) << "fixes are never filtered";
    }
}

TEST(DriveReader, LogCutOffInsideARecordKeepsWhatIsWhole)
{
    DriveTestLog log;
    log.header(0x03, channelInfoRecord()).gps(1.0, 1.0, 0).scan({{0, 0, -70}}).gps(1.2, 1.2, 2);
    const size_t cut = log.bytes.size();
    log.scan({{0, 1, -71}});
    for (size_t keep : {cut + 1, cut + 2, cut + 10}) {
        SCOPED_TRACE(keep - cut);
        const std::vector<uint8_t> bytes(log.bytes.begin(), log.bytes.begin() + long(keep));
        const Read r = readLog(bytes);
        EXPECT_EQ(r.summary.status, DriveSummary::Status::Truncated);
        EXPECT_EQ(r.summary.stopOffset, cut);
        EXPECT_EQ(r.summary.bytesRead, cut);
        EXPECT_NE(r.summary.error.find("offset " + std::to_string(cut)), std::string::npos) << r.summary.error;
        EXPECT_EQ(r.summary.records, 3u);
        EXPECT_EQ(r.summary.samplesPlaced, 1u);
    }
    // A header cut short: nothing to read, and said so.
    const std::vector<uint8_t> head(log.bytes.begin(), log.bytes.begin() + 40);
    const Read h = readLog(head);
    EXPECT_EQ(h.summary.status, DriveSummary::Status::Truncated);
    EXPECT_EQ(h.summary.records, 0u);
}

TEST(DriveReader, BadRecordsAreSkippedOrEndTheWalk)
{
    DriveTestLog log;
    log.header(0x03, channelInfoRecord()).gps(1.0, 1.0, 0);
    const size_t bad = log.bytes.size();
    log.scan({{0, 0, -70}}).scan({{0, 1, -71}}).gps(1.2, 1.2, 2);
    log.bytes[bad + 5] ^= 0x01; // the first scan's RSSI: checksum fails
    const size_t end = log.bytes.size();
    log.bytes.insert(log.bytes.end(), {0x00, 0x10, 0x07}); // L = 4096
    log.scan({{0, 2, -72}});
    const Read r = readLog(log.bytes);
    EXPECT_EQ(r.summary.status, DriveSummary::Status::Malformed);
    EXPECT_EQ(r.summary.stopOffset, bad) << "the first problem";
    EXPECT_EQ(r.summary.checksumErrors, 1u);
    EXPECT_EQ(r.summary.bytesRead, end);
    ASSERT_EQ(r.sink.samples.size(), 1u);
    EXPECT_EQ(r.sink.samples[0].rssi, -71);
    EXPECT_EQ(r.sink.samples[0].record, 2u) << "the bad record still counts in the index";
}

TEST(DriveReader, HeaderlessLogAndProgress)
{
    DriveTestLog log;
    for (int i = 0; i < 3000; ++i)
        log.single(0, std::vector<int>(600, -90));
    std::vector<uint64_t> seen;
    DriveReader reader;
    reader.setProgress([&](uint64_t done, uint64_t) {
        seen.push_back(done);
        return true;
    });
    RecordingSink sink;
    std::FILE* f = fmemopen(log.bytes.data(), log.bytes.size(), "rb");
    const DriveSummary s = reader.read(f, sink);
    std::fclose(f);
    EXPECT_FALSE(s.hasHeader);
    EXPECT_EQ(s.records, 3000u);
    EXPECT_GE(seen.size(), log.bytes.size() / DriveReader::kProgressStep);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), log.bytes.size());

    int calls = 0;
    reader.setProgress([&](uint64_t, uint64_t) { return ++calls < 1; });
    RecordingSink cancelled;
    f = fmemopen(log.bytes.data(), log.bytes.size(), "rb");
    EXPECT_EQ(reader.read(f, cancelled).status, DriveSummary::Status::Cancelled);
    std::fclose(f);
    EXPECT_LT(cancelled.samples.size(), 3000u);
}

// A straight line across a time jump would invent the samples' times: fixes
// going back (a GPS week rollover) or too far apart leave the samples between
// them unplaced and counted; placing resumes from the fix after the jump.
TEST(DriveReader, SamplesAcrossATimeJumpAreNotPlacedButCounted)
{
    struct Case
    {
        const char* legend;
        int year, minute, second; // of the fix after the first, at 2004 12:00:10
        bool placed;
    };
    const int limitS = int(DriveReader::kMaxPlacingGapMs / 1000);
    const Case cases[] = {
        {"eight seconds on", 2004, 0, 18, true},
        {"the same second", 2004, 0, 10, true},
        {"exactly the limit on", 2004, limitS / 60, 10 + limitS % 60, true},
        {"a second past the limit", 2004, limitS / 60, 11 + limitS % 60, false},
        {"a second back", 2004, 0, 9, false},
        {"a GPS week rollover", 1984, 0, 10, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        DriveTestLog log;
        log.header(0x03, channelInfoRecord())
            .gpsAt(40.0, -74.0, 2004, 0, 10)
            .scan({{0, 0, -70}, {0, 1, -71}})
            .gpsAt(40.2, -74.2, c.year, c.minute, c.second)
            .scan({{0, 2, -72}})
            .gpsAt(40.4, -74.4, c.year, c.minute, c.second + 2);
        const Read r = readLog(log.bytes);
        EXPECT_EQ(r.summary.fixesUsed, 3u);
        ASSERT_EQ(r.sink.samples.size(), 3u);
        EXPECT_EQ(r.summary.samplesAcrossTimeJump, c.placed ? 0u : 2u);
        EXPECT_EQ(r.summary.samplesNotPlaced, c.placed ? 0u : 2u);
        EXPECT_EQ(r.summary.samplesPlaced, c.placed ? 3u : 1u);
        for (int i = 0; i < 2; ++i) {
            const DriveSample& s = r.sink.samples[size_t(i)];
            EXPECT_EQ(s.placed, c.placed) << i;
            EXPECT_EQ(s.rssi, -70 - i);
        }
        const DriveSample& after = r.sink.samples[2];
        EXPECT_TRUE(after.placed) << "placing resumes after the jump";
        EXPECT_NEAR(after.latitude, 40.3, 1e-6);
        EXPECT_EQ(r.summary.receivers[0].samples, c.placed ? 3u : 1u) << "only placed samples set the range";
    }
}

TEST(DriveReader, LongGpsGapIsPlacedInOrderBeyondTheInMemoryQueue)
{
    DriveTestLog log;
    log.header(0x03, channelInfoRecord()).gps(0.0, 0.0, 0);
    const int reports = int(SampleQueue::kInMemory / 5) + 1000;
    for (int i = 0; i < reports; ++i)
        log.scan({{0, 0, -70 - i % 5}, {0, 1, -60}, {0, 2, -61}, {0, 3, -62}, {0, 4, -63}});
    log.gps(1.0, 1.0, 59);
    const Read r = readLog(log.bytes);
    ASSERT_EQ(r.sink.samples.size(), size_t(reports) * 5);
    EXPECT_EQ(r.summary.samplesPlaced, size_t(reports) * 5);
    for (size_t i = 1; i < r.sink.samples.size(); ++i)
        ASSERT_LE(r.sink.samples[i - 1].record, r.sink.samples[i].record) << i;
    const DriveSample& mid = r.sink.samples[size_t(reports / 2) * 5];
    EXPECT_NEAR(mid.latitude, double(mid.record) / double(reports + 1), 1e-9);
}

TEST(SampleQueue, SpillsPastItsLimitAndGivesEverythingBackInOrder)
{
    SampleQueue q(3);
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 10; ++i) {
            DriveSample s;
            s.record = uint64_t(i);
            q.push(s);
        }
        EXPECT_EQ(q.size(), 10u);
        EXPECT_TRUE(q.spilled());
        std::vector<uint64_t> out;
        EXPECT_TRUE(q.drain([&](DriveSample& s) { out.push_back(s.record); }));
        EXPECT_EQ(out, (std::vector<uint64_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9})) << "round " << round;
        EXPECT_TRUE(q.empty());
    }
}

} // namespace
