#include "SimStats.h"

#include <gtest/gtest.h>

namespace {

// The whole-program bench reads the request round trip from the stats file.
TEST(SimStats, RoundTripFiguresAreMedianAndNinetyNinthPercentile)
{
    SimStats stats;
    EXPECT_EQ(stats.toJson({}).find("roundTripUs"), std::string::npos);
    for (int i = 100; i >= 1; --i)
        stats.roundTrip(double(i * 10));
    const std::string json = stats.toJson({});
    EXPECT_NE(json.find("\"roundTripUs\": {\"count\": 100, \"median\": 510, \"p99\": 990, \"max\": 1000}"),
              std::string::npos)
        << json;
}

// The stats file carries the port path the user gave; the test harness and
// the bench parse the file as JSON.
TEST(SimStats, StateTextsAreEscapedJsonStrings)
{
    SimStats stats;
    const std::string json = stats.toJson({{"port", "/tmp/a \"b\"\\c\xE9"}, {"line", "waiting"}});
    EXPECT_NE(json.find("\"port\": \"/tmp/a \\\"b\\\"\\\\c\\ufffd\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"line\": \"waiting\""), std::string::npos) << json;
}

} // namespace
