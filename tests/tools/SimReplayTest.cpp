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
    log.scan({{0, 4, -74}});                                      // after the last: in the next second
    LogReplay replay(2.0, false);
    std::string error;
    ASSERT_TRUE(replay.open(write(log), error)) << error;
    const auto played = playAll(replay);
    ASSERT_EQ(played.size(), 7u);

    const double expect[] = {0, 0, 0.125, 0.25, 0.375, 0.5, 0.75}; // seconds at speed 2
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
    EXPECT_NE(replay.logProblem().find("bad checksum"), std::string::npos);
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

} // namespace
