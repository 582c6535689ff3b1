// The parts of a command line that the drive tools share, read alike by each:
// the same rows go through klf-export's, klf-coverage's and klf-report's parse.
#include "CoverageOptions.h"
#include "ExportOptions.h"
#include "ReportOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

namespace {

struct Row
{
    const char* what;
    std::vector<std::string> args;
    bool ok;
    std::vector<std::string> inputs; // when ok
    const char* error;               // part of the refusal, when not ok
};

const Row kRows[] = {
    {"a name", {"a.KLF"}, true, {"a.KLF"}, ""},
    {"-- before a name starting with -", {"--", "-odd.KLF"}, true, {"-odd.KLF"}, ""},
    {"an option's name after -- is a name", {"--", "--help"}, true, {"--help"}, ""},
    {"- alone is a name", {"-"}, true, {"-"}, ""},
    {"an unknown option", {"--bogus", "a.KLF"}, false, {}, "unknown option --bogus"},
    {"a shared option without its value", {"a.KLF", "--channel"}, false, {}, "--channel needs a value"},
    {"a bad receiver", {"--receiver", "3", "a.KLF"}, false, {}, "bad value for --receiver: 3"},
    {"a bad channel", {"--channel", "x", "a.KLF"}, false, {}, "bad value for --channel: x"},
    {"frequency and channel", {"--frequency", "851.0125", "--channel", "3", "a.KLF"}, false, {}, "exclude each other"},
    {"nothing named", {}, false, {}, "named"},
    {"the filter after the name", {"a.KLF", "--receiver", "2", "--channel", "12"}, true, {"a.KLF"}, ""},
};

// klf-report alone needs a threshold; everything else is the same.
template <class Options>
std::vector<std::string> required()
{
    if constexpr (std::is_same_v<Options, ReportOptions>)
        return {"--threshold", "-90"};
    return {};
}

template <class Options>
class DriveToolOptionsTest : public testing::Test
{
};

using Tools = testing::Types<ExportOptions, CoverageOptions, ReportOptions>;
TYPED_TEST_SUITE(DriveToolOptionsTest, Tools);

TYPED_TEST(DriveToolOptionsTest, SharedOptionsReadAlikeInEveryTool)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> args = required<TypeParam>();
        args.insert(args.end(), row.args.begin(), row.args.end());
        TypeParam o;
        std::string error;
        ASSERT_EQ(TypeParam::parse(args, o, error), row.ok) << error;
        if (!row.ok) {
            EXPECT_NE(error.find(row.error), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(o.inputs, row.inputs);
        EXPECT_FALSE(o.help);
        EXPECT_FALSE(o.version);
    }

    std::vector<std::string> args = required<TypeParam>();
    args.insert(args.end(), {"a.KLF", "--receiver", "2", "--frequency", "851.0125"});
    TypeParam o;
    std::string error;
    ASSERT_TRUE(TypeParam::parse(args, o, error)) << error;
    EXPECT_EQ(o.filter.receiver, 1);
    ASSERT_TRUE(o.filter.frequencyMHz);
    EXPECT_DOUBLE_EQ(*o.filter.frequencyMHz, 851.0125);
    EXPECT_FALSE(o.filter.channel);
}

// Help and the version are answered whatever else the line holds, even what
// would be refused, but not once the options have ended.
TYPED_TEST(DriveToolOptionsTest, HelpAndVersionAnswerAtOnce)
{
    struct Case { std::vector<std::string> args; bool help, version; };
    const Case cases[] = {
        {{"-h"}, true, false},
        {{"--help", "--bogus"}, true, false},
        {{"a.KLF", "b.KLF", "--help"}, true, false},
        {{"--version", "--channel"}, false, true},
    };
    for (const Case& c : cases) {
        TypeParam o;
        std::string error;
        ASSERT_TRUE(TypeParam::parse(c.args, o, error)) << error;
        EXPECT_EQ(o.help, c.help);
        EXPECT_EQ(o.version, c.version);
    }
}

// A tool reads one of the shared options its own way before the shared
// reading: klf-report pools the receivers for "both", where the others read
// "both" as no choice of receiver.
TEST(DriveToolOptions, AToolsOwnReadingComesFirst)
{
    ReportOptions report;
    std::string error;
    ASSERT_TRUE(ReportOptions::parse({"--threshold", "-90", "--receiver", "both", "m.gpkg"}, report, error)) << error;
    EXPECT_TRUE(report.poolReceivers);
    EXPECT_FALSE(report.filter.receiver);

    ExportOptions exported;
    ASSERT_TRUE(ExportOptions::parse({"--receiver", "both", "a.KLF"}, exported, error)) << error;
    EXPECT_FALSE(exported.filter.receiver);

    CoverageOptions coverage;
    ASSERT_FALSE(CoverageOptions::parse({"--range", "-50,-120", "a.KLF"}, coverage, error));
    EXPECT_EQ(error, "bad value for --range: -50,-120") << "a refusal without words of its own gets the usual ones";
    ASSERT_FALSE(ExportOptions::parse({"--range", "-50,-120", "a.KLF"}, exported, error));
    EXPECT_NE(error.find("from -150 to 0"), std::string::npos) << "a refusal with words of its own keeps them: " << error;
}

} // namespace
