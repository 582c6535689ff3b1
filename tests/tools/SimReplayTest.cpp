// tavrix-sim --replay: a log's packets in order, paced by its GPS messages,
// requests answered as the device would have answered at that point.
#include "LogReplay.h"
#include "SimOptions.h"
#include "drive/DriveTestLog.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

struct Played
{
    double at;
    std::vector<uint8_t> bytes;
};

// Steps replay time forward in small ticks and notes when each packet falls due.
std::vector<Played> playAll(LogReplay& replay, double tick = 0.001, double limit = 100.0)
{
    std::vector<Played> out;
    SimFrame f;
    for (double t = 0; t < limit && !replay.finished(); t += tick)
        while (replay.nextDue(t, f))
            out.push_back({t, f.bytes});
    return out;
}

std::vector<uint8_t> framed(const DriveTestLog& record)
{
    std::vector<uint8_t> f{0xAA};
    f.insert(f.end(), record.bytes.begin(), record.bytes.end());
    return f;
}

class Replay : public ::testing::Test
{
protected:
    std::string write(const DriveTestLog& log) { return log.write(dir.filePath("r.KLF").toStdString()); }
    QTemporaryDir dir;
};

TEST_F(Replay, PacketsInOrderOneGpsMessagePerSecondOverSpeed)
{
    DriveTestLog log;
    log.header().scan({{0, 0, -70}}).gps(1, 1, 0);            // before the first fix: at once
    log.scan({{0, 1, -71}}).scan({{0, 2, -72}}).scan({{0, 3, -73}}).gps(1, 1, 1); // a quarter second apart
    log.scan({{0, 4, -74}}); // after the last: paced by the measurement rate
    LogReplay replay(2.0, false);
    std::string error;
    ASSERT_TRUE(replay.open(write(log), error)) << error;
    const auto played = playAll(replay);
    ASSERT_EQ(played.size(), 7u);

    const double expect[] = {0, 0, 0.125, 0.25, 0.375, 0.5, 0.5125}; // seconds at speed 2, rate 40
    std::vector<uint8_t> all;
    for (size_t i = 0; i < played.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(played[i].at, expect[i], 0.0015);
        EXPECT_EQ(played[i].bytes[0], 0xAA);
        all.insert(all.end(), played[i].bytes.begin() + 1, played[i].bytes.end());
    }
    const std::vector<uint8_t> records(log.bytes.begin() + 63, log.bytes.end());
    EXPECT_EQ(all, records) << "every record, as it was logged, in order";
    EXPECT_EQ(replay.played(), 7u);
}

TEST_F(Replay, FlatOutEverythingIsDueAtOnceAndBadChecksumsAreSkipped)
{
    DriveTestLog log;
    log.header().gps(1, 1, 0).scan({{0, 1, -71}}).gps(1, 1, 1);
    log.bytes.back() ^= 0xFF;
    log.scan({{0, 2, -72}}).gps(1, 1, 2);
    LogReplay replay(1.0, true);
    std::string error;
    ASSERT_TRUE(replay.open(write(log), error));
    const auto played = playAll(replay);
    ASSERT_EQ(played.size(), 4u);
    for (const Played& p : played)
        EXPECT_EQ(p.at, 0.0);
    EXPECT_EQ(replay.skipped(), 1u);
    EXPECT_EQ(replay.logProblem(), "") << "a skipped record does not end the log";
}

TEST_F(Replay, AnswersFromTheHeaderThenFromWhatWasPlayed)
{
    DriveTestLog ci;
    ci.currentFrequency(34050, 34060);
    DriveTestLog log;
    log.header(0x01, ci.bytes).gps(1, 1, 0);
    DriveTestLog later;
    later.scanChannelList();
    const auto newSetup = DriveTestLog::block(1000, 1100, 7680);
    DriveTestLog setupRecord;
    setupRecord.receiverSetup(0x02, newSetup, newSetup);
    log.bytes.insert(log.bytes.end(), later.bytes.begin(), later.bytes.end());
    log.bytes.insert(log.bytes.end(), setupRecord.bytes.begin(), setupRecord.bytes.end());
    LogReplay replay(1.0, true);
    std::string error;
    ASSERT_TRUE(replay.open(write(log), error));

    DriveTestLog serial;
    serial.record(28, {'A', 'B', '1', '2', '3', '4', '5', '6'});
    auto only = [&](uint8_t command) {
        const auto frames = replay.answer(command);
        return frames.size() == 1 ? frames[0].bytes : std::vector<uint8_t>{};
    };
    EXPECT_EQ(only(28), framed(serial));
    EXPECT_EQ(only(48), framed(ci));
    // The header's configuration record: receiver 1's block as logged (11 bytes and a zero).
    const auto setup = only(1);
    ASSERT_EQ(setup.size(), 30u);
    EXPECT_EQ(setup[4], 0x01);
    EXPECT_EQ(replay.answer(99).size(), 0u);

    playAll(replay);
    EXPECT_EQ(only(48), framed(later)) << "the channel list played since";
    EXPECT_EQ(only(1), framed(setupRecord)) << "the settings played since";
}

TEST_F(Replay, UnreadableLogIsAnErrorAndOptionsNeedEachOther)
{
    LogReplay replay(1.0, false);
    std::string error;
    EXPECT_FALSE(replay.open(dir.filePath("none.KLF").toStdString(), error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);

    DriveTestLog bad;
    bad.header();
    bad.bytes.resize(40);
    LogReplay cut(1.0, false);
    EXPECT_FALSE(cut.open(write(bad), error));
    EXPECT_NE(error.find("header cut short"), std::string::npos) << error;

    struct Case { std::vector<std::string> args; bool ok; double speed; };
    const Case cases[] = {
        {{"--replay", "d.KLF"}, true, 1.0},
        {{"--replay", "d.KLF", "--speed", "4"}, true, 4.0},
        {{"--replay", "d.KLF", "--speed", "0"}, false, 0},
        {{"--replay", "d.KLF", "--speed", "-2"}, false, 0},
        {{"--replay", "d.KLF", "--speed", "1e-300"}, false, 0}, // would never play a packet
        {{"--replay", "d.KLF", "--speed", "0.009"}, false, 0},
        {{"--replay", "d.KLF", "--speed", "0.01"}, true, 0.01},
        {{"--replay", "d.KLF", "--wait-logging"}, true, 1.0},
        {{"--wait-logging"}, false, 0},
        {{"--speed", "2"}, false, 0},
    };
    for (const Case& c : cases) {
        SimOptions o;
        std::string e;
        EXPECT_EQ(SimOptions::parse(c.args, o, e), c.ok) << e;
        if (c.ok) {
            EXPECT_EQ(o.replayPath, "d.KLF");
            EXPECT_EQ(o.replaySpeed, c.speed);
        }
    }
}

// Without GPS the device sends its clock once a second: a log recorded so is
// paced by its clock markers; one with neither by the measurement rate, never
// all at once.
TEST_F(Replay, WithoutGpsTheClockMarkersPaceTheLogAndWithNeitherTheMeasurementRate)
{
    struct Case { const char* legend; DriveTestLog log; double rate; std::vector<double> expect; };
    DriveTestLog clocked;
    clocked.header().record(4, std::vector<uint8_t>(7, 0));
    clocked.scan({{0, 1, -71}}).record(4, std::vector<uint8_t>(7, 1));
    clocked.scan({{0, 2, -72}}).scan({{0, 3, -73}}).scan({{0, 4, -74}}).record(4, std::vector<uint8_t>(7, 2));
    DriveTestLog bare;
    bare.header().scanChannelList().single(0, {-70}).single(0, {-71}).single(1, {-72}); // the list ends the header
    const Case cases[] = {
        // speed 2: a marker's second is half a second of replay
        {"clock markers", clocked, 40, {0, 0.25, 0.5, 0.625, 0.75, 0.875, 1.0}},
        {"no markers, 10 a second", bare, 10, {0.05, 0.1, 0.15}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        LogReplay replay(2.0, false, c.rate);
        std::string error;
        ASSERT_TRUE(replay.open(c.log.write(dir.filePath("c.KLF").toStdString()), error)) << error;
        const auto played = playAll(replay);
        ASSERT_EQ(played.size(), c.expect.size());
        for (size_t i = 0; i < played.size(); ++i)
            EXPECT_NEAR(played[i].at, c.expect[i], 0.0015) << "packet " << i;
    }
}

// A record with a bad checksum is skipped and the log goes on; only a
// record that cannot be placed ends it early, and then it says where.
TEST_F(Replay, SkippedRecordsAreReportedApartFromALogThatEndsEarly)
{
    DriveTestLog log;
    log.header().gps(1, 1, 0).scan({{0, 1, -71}});
    const size_t badAt = log.bytes.size();
    log.scan({{0, 2, -72}}).gps(1, 1, 1);
    log.bytes[badAt + 4] ^= 0xFF;
    {
        LogReplay replay(1.0, true);
        std::string error;
        ASSERT_TRUE(replay.open(write(log), error));
        EXPECT_EQ(playAll(replay).size(), 3u);
        EXPECT_EQ(replay.skipped(), 1u);
        EXPECT_EQ(replay.firstSkippedAt(), badAt);
        EXPECT_EQ(replay.logProblem(), "") << "a skipped record does not end the log";
    }
    const size_t stopAt = log.bytes.size();
    log.scan({{0, 3, -73}});
    log.bytes[stopAt] = 0xFF; // length 0x7FFF: nothing after it can be placed
    log.bytes[stopAt + 1] = 0x7F;
    log.gps(1, 1, 2);
    LogReplay replay(1.0, true);
    std::string error;
    ASSERT_TRUE(replay.open(write(log), error));
    EXPECT_EQ(playAll(replay).size(), 3u);
    EXPECT_NE(replay.logProblem().find("offset " + std::to_string(stopAt)), std::string::npos) << replay.logProblem();
}

} // namespace
