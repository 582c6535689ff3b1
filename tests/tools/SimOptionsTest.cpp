#include "ControlCommand.h"
#include "SimOptions.h"

#include <gtest/gtest.h>

namespace {

bool parse(std::vector<std::string> args, SimOptions& o, std::string* error = nullptr)
{
    std::string e;
    const bool ok = SimOptions::parse(args, o, e);
    if (error)
        *error = e;
    return ok;
}

TEST(SimOptions, bandEdgesBecomeChannelSteps)
{
    struct Case
    {
        std::vector<std::string> args;
        uint32_t low, high;
        uint16_t stepRaw;
    };
    const Case cases[] = {
        {{}, 34040, 34400, 6400},
        {{"--low", "30", "--high", "40.77", "--step-khz", "30"}, 1000, 1359, 7680},
        {{"--low", "935.2", "--high", "960", "--step-khz", "200", "--numbering-991"}, 4676, 4800, 51200},
    };
    for (const Case& c : cases) {
        SimOptions o;
        ASSERT_TRUE(parse(c.args, o));
        EXPECT_EQ(o.device.band.lowEdge, c.low);
        EXPECT_EQ(o.device.band.highEdge, c.high);
        EXPECT_EQ(o.device.band.stepRaw, c.stepRaw);
    }
}

TEST(SimOptions, readsModesFaultsAndLimits)
{
    SimOptions o;
    ASSERT_TRUE(parse({"--link", "/tmp/x", "--mode", "cycle", "--cycle-seconds", "5", "--receivers", "2", "--gps",
                       "cycle", "--serial", "AB123456", "--flat-out", "--count", "30", "--noise", "--bad-checksums",
                       "0.1", "--bad-lengths", "0.2", "--split", "--unplug-every", "3", "--stats", "/tmp/s.json",
                       "--control", "--withhold-channel-info", "--wait-request"},
                      o));
    EXPECT_EQ(o.linkPath, "/tmp/x");
    EXPECT_TRUE(o.device.cycle);
    EXPECT_EQ(o.device.mode, MeasurementMode::Single);
    EXPECT_EQ(o.device.cycleSeconds, 5);
    EXPECT_EQ(o.device.activeFlags, 0x02);
    EXPECT_EQ(o.device.gps, GpsMode::Cycle);
    EXPECT_TRUE(o.flatOut);
    EXPECT_EQ(o.count, 30);
    EXPECT_TRUE(o.faults.noise);
    EXPECT_DOUBLE_EQ(o.faults.badChecksumRate, 0.1);
    EXPECT_DOUBLE_EQ(o.faults.badLengthRate, 0.2);
    EXPECT_TRUE(o.faults.split);
    EXPECT_EQ(o.unplugEverySeconds, 3);
    EXPECT_TRUE(o.control);
    EXPECT_TRUE(o.device.withholdChannelInfo);
    EXPECT_TRUE(o.waitRequest);
}

TEST(SimOptions, refusesWhatCannotWork)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"--mode", "sweep"},
        {"--receivers", "3"},
        {"--count"},
        {"--count", "ten"},
        {"--serial", "TOOLONG123"},
        {"--bad-checksums", "1.5"},
        {"--link", "/tmp/a", "--device", "/dev/ttyS0"},
        {"--low", "900", "--high", "800"},
        {"--low", "800", "--high", "900", "--step-khz", "25"},                       // 4001 channels
        {"--low", "800", "--high", "830", "--step-khz", "25", "--numbering-991"}, // 1201 channels
        {"--step-khz", "300"},
    };
    for (const auto& args : bad) {
        SimOptions o;
        std::string error;
        EXPECT_FALSE(parse(args, o, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(SimControlCommand, parsesTheControlLines)
{
    struct Case
    {
        const char* line;
        ControlCommand::Kind kind;
    };
    const Case cases[] = {
        {"mode scan", ControlCommand::Mode}, {"mode table", ControlCommand::Mode},
        {"mode single", ControlCommand::Mode}, {"mode cycle", ControlCommand::Mode},
        {"gps on", ControlCommand::Gps}, {"gps off", ControlCommand::Gps},
        {"withhold on", ControlCommand::Withhold}, {"withhold off", ControlCommand::Withhold},
        {"unplug", ControlCommand::Unplug}, {"quit", ControlCommand::Quit},
        {"pause", ControlCommand::Pause}, {"resume", ControlCommand::Pause},
        {"pause now", ControlCommand::Invalid},
        {"drain", ControlCommand::Drain}, {"drain all", ControlCommand::Invalid},
        {"  quit  ", ControlCommand::Quit}, {"mode", ControlCommand::Invalid},
        {"gps maybe", ControlCommand::Invalid}, {"quit now", ControlCommand::Invalid},
        {"mode scan extra", ControlCommand::Invalid}, {"", ControlCommand::Invalid},
        {"step 12.5", ControlCommand::Step}, {"step", ControlCommand::Invalid}, {"step 0", ControlCommand::Invalid},
        {"step 300", ControlCommand::Invalid}, {"step 5kHz", ControlCommand::Invalid},
        {"inject AAD007 50", ControlCommand::Inject}, {"inject aa", ControlCommand::Inject},
        {"inject AAD", ControlCommand::Invalid}, {"inject AAZZ", ControlCommand::Invalid},
        {"inject", ControlCommand::Invalid}, {"inject AA 5x", ControlCommand::Invalid},
        {"inject AA -1", ControlCommand::Invalid}, {"inject AA 5 6", ControlCommand::Invalid},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ControlCommand::parse(c.line).kind, c.kind) << c.line;
    EXPECT_EQ(ControlCommand::parse("mode table").mode, MeasurementMode::Table);
    EXPECT_TRUE(ControlCommand::parse("mode cycle").cycle);
    EXPECT_EQ(ControlCommand::parse("step 12.5").stepRaw, 3200);
    EXPECT_EQ(ControlCommand::parse("gps off").gps, GpsMode::Off);
    EXPECT_TRUE(ControlCommand::parse("withhold on").on);
    EXPECT_FALSE(ControlCommand::parse("withhold off").on);
    EXPECT_TRUE(ControlCommand::parse("pause").on);
    EXPECT_FALSE(ControlCommand::parse("resume").on);
    const ControlCommand inject = ControlCommand::parse("inject AAd007 50");
    EXPECT_EQ(inject.bytes, (std::vector<uint8_t>{0xAA, 0xD0, 0x07}));
    EXPECT_EQ(inject.measurements, 50);
    EXPECT_EQ(ControlCommand::parse("inject 0102").measurements, 0);
}

} // namespace
