#include "drive/DriveTestLog.h"
#include "log/KlfHeader.h"
#include "log/LogTestUtil.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

namespace {

struct ToolRun
{
    int exitCode = -1;
    std::string output; // stdout and stderr
};

ToolRun inspect(const std::string& args)
{
    const char* bin = std::getenv("TAVRIX_BIN_DIR");
    const std::string command = std::string(bin ? bin : ".") + "/klf-inspect " + args + " 2>&1";
    ToolRun run;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        run.output.append(buffer, n);
    const int status = pclose(p);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::vector<uint8_t> gpsPayload(int32_t latMas, int32_t lonMas, int hour)
{
    std::vector<uint8_t> m(152, 0);
    m[4] = 7;  // month
    m[5] = 4;  // day
    m[6] = 0x07;
    m[7] = 0xD8; // 2008
    m[8] = uint8_t(hour);
    m[9] = 30;
    m[10] = 15;
    for (int i = 0; i < 4; ++i) {
        m[31 + i] = uint8_t(uint32_t(latMas) >> (24 - 8 * i));
        m[35 + i] = uint8_t(uint32_t(lonMas) >> (24 - 8 * i));
    }
    return m;
}

class KlfInspect : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KlfHeader h;
        h.serialNumber = "AB123456";
        h.receiverActive = {true, false};
        // 400 - 470 MHz in 12.5 kHz steps.
        const uint32_t low = 32000, high = 37600;
        const uint16_t step = 12 * 256 + 128;
        h.settingsBlocks[0] = {uint8_t(low), uint8_t(low >> 8), 0, 0, uint8_t(high), uint8_t(high >> 8), 0, 0,
                               uint8_t(step), uint8_t(step >> 8), 0, 0};
        h.channelInfo = makeRecord(5, std::vector<uint8_t>(8, 1));
        good = h.bytes();
        auto add = [&](const std::vector<uint8_t>& r) { good.insert(good.end(), r.begin(), r.end()); };
        add(makeRecord(0, gpsPayload(51 * 3600000 + 1800000, -(2 * 3600000), 9)));
        for (uint32_t i = 0; i < 12; ++i)
            add(makeSequenced(7, i, 17));
        add(makeRecord(4, std::vector<uint8_t>(7, 0)));
        add(makeRecord(0, gpsPayload(-(33 * 3600000), 151 * 3600000 + 720000, 10)));
    }

    std::string write(const char* name, const std::vector<uint8_t>& bytes)
    {
        const std::string path = (dir.path() + "/" + name).toStdString();
        writeFile(path, bytes);
        return path;
    }

    QTemporaryDir dir;
    std::vector<uint8_t> good;
};

} // namespace

TEST_F(KlfInspect, summarisesAGoodFile)
{
    const ToolRun json = inspect("--json " + write("good.KLF", good));
    EXPECT_EQ(json.exitCode, 0) << json.output;
    for (const char* want : {"\"status\": \"ok\"", "\"records\": 15", "\"byType\": {\"0\": 2, \"4\": 1, \"7\": 12}",
                             "\"header\": true", "\"channelInfo\": true", "\"serialNumber\": \"AB123456\"",
                             "\"latitude\": 51.5000000", "\"longitude\": -2.0000000", "\"time\": \"09:30:15\"",
                             "\"date\": \"2008-07-04\"", "\"latitude\": -33.0000000", "\"longitude\": 151.2000000"})
        EXPECT_NE(json.output.find(want), std::string::npos) << want << "\n" << json.output;

    const ToolRun text = inspect(write("good2.KLF", good));
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_NE(text.output.find("receiver R1: active, 400 - 470 MHz, step 12.5 kHz"), std::string::npos)
        << text.output;
    EXPECT_NE(text.output.find("receiver R2: inactive"), std::string::npos);

    const ToolRun dump = inspect("--dump " + write("good3.KLF", good));
    EXPECT_NE(dump.output.find("        63  L=10    type=5"), std::string::npos) << dump.output;
}

// Logging that starts after the measurement forgets the earlier channel
// list, so a new header has none; the device's channel list may still be in
// the records. Where it is gets said, and "not convertible" only when
// neither the header nor a record holds it.
TEST_F(KlfInspect, saysWhereTheChannelInformationIsAndNotConvertibleOnlyWithoutAny)
{
    KlfHeader bare;
    bare.serialNumber = "AB123456";
    bare.receiverActive = {true, false};
    const std::vector<uint8_t> head = bare.bytes(); // 63 bytes, no channel information
    const std::vector<uint8_t> scan = makeSequenced(7, 0, 17);
    const std::vector<uint8_t> list = makeRecord(6, std::vector<uint8_t>(12, 2));
    auto join = [](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> all;
        for (const auto& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    std::vector<uint8_t> badList = list;
    badList.back() ^= 0xFF; // a channel list whose checksum fails holds nothing to trust
    struct Case
    {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* text;
        const char* json;
        const char* where;
    };
    const size_t listAt = head.size() + scan.size();
    const std::string inRecord = "channel information: in record 2 at offset " + std::to_string(listAt) + " (type 6)";
    const std::string inRecordJson = "\"channelInfoIn\": {\"record\": 2, \"offset\": " + std::to_string(listAt) + ", \"type\": 6}";
    const std::string headerless = "channel information: in record 2 at offset " + std::to_string(scan.size()) + " (type 6)";
    const std::string headerlessJson = "\"channelInfoIn\": {\"record\": 2, \"offset\": " + std::to_string(scan.size()) + ", \"type\": 6}";
    const std::vector<Case> cases = {
        {"header.KLF", good, "channel information: in the header (type 5, L = 10)", "\"channelInfo\": true",
         "\"channelInfoIn\": {\"header\": true, \"type\": 5}"},
        {"record.KLF", join({head, scan, list, scan}), inRecord.c_str(), "\"channelInfo\": true", inRecordJson.c_str()},
        {"headerless.KLF", join({scan, list}), headerless.c_str(), "\"channelInfo\": true", headerlessJson.c_str()},
        {"none.KLF", join({head, scan, scan}), "channel information: none: not convertible", "\"channelInfo\": false",
         "\"channelInfoIn\": null"},
        {"badsum.KLF", join({head, scan, badList}), "channel information: none: not convertible",
         "\"channelInfo\": false", "\"channelInfoIn\": null"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write(c.name, c.bytes);
        const ToolRun text = inspect(path);
        EXPECT_NE(text.output.find(c.text), std::string::npos) << text.output;
        EXPECT_EQ(text.output.find("absent"), std::string::npos) << text.output;
        const ToolRun json = inspect("--json " + path);
        EXPECT_NE(json.output.find(c.json), std::string::npos) << json.output;
        EXPECT_NE(json.output.find(c.where), std::string::npos) << json.output;
    }
}

TEST_F(KlfInspect, failsOnACorruptFileAndSaysWhere)
{
    auto bad = good;
    // The fourth packet record: a 75-byte header, a 156-byte GPS record, then 17-byte records.
    const size_t offset = 63 + 12 + 156 + 2 * 17;
    bad[offset + 6] ^= 0xFF;
    const ToolRun run = inspect("--json " + write("bad.KLF", bad));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("\"errorOffset\": " + std::to_string(offset)), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\"checksumErrors\": 1"), std::string::npos);
}

TEST_F(KlfInspect, reportsAPartialLastRecordDistinctly)
{
    auto cut = good;
    cut.resize(cut.size() - 20);
    const ToolRun run = inspect(write("cut.KLF", cut));
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_NE(run.output.find("cut short"), std::string::npos) << run.output;

    // Records only, as appended to a file that had none: found without a header.
    std::vector<uint8_t> headerless(good.begin() + 75, good.end());
    const ToolRun plain = inspect("--json " + write("plain.KLF", headerless));
    EXPECT_EQ(plain.exitCode, 0) << plain.output;
    EXPECT_NE(plain.output.find("\"header\": false"), std::string::npos);
    EXPECT_NE(plain.output.find("\"records\": 15"), std::string::npos);
    EXPECT_EQ(inspect("--header " + write("plain2.KLF", headerless)).exitCode, 1);
    EXPECT_EQ(inspect(dir.path().toStdString() + "/absent.KLF").exitCode, 3);
}

TEST_F(KlfInspect, refusesWhatIsNotARegularFileAndReadsStandardInputForADash)
{
    struct Case
    {
        const char* legend;
        std::string args;
        int exitCode;
        const char* says;
    };
    const std::string file = write("piped.KLF", good);
    const std::vector<Case> cases{
        {"a directory", dir.path().toStdString(), 4, "not a regular file"},
        {"an endless device", "/dev/zero", 4, "not a regular file"},
        {"an empty file", write("empty.KLF", {}), 1, "empty file, no header"},
        {"standard input", "--json - < " + file, 0, "\"records\": 15"},
        {"standard input, cut short", "- < /dev/null", 1, "empty file"},
    };
    for (const Case& c : cases) {
        const ToolRun run = inspect(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.legend << "\n" << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.legend << "\n" << run.output;
    }
}

// What a user needs to pick klf-export's --channel or --frequency: every
// receiver and mode of the log with its channels, frequencies and counts.
TEST_F(KlfInspect, listsTheChannelsAndFrequenciesPerReceiverAndModeWithCounts)
{
    DriveTestLog ci;
    ci.scanChannelList();
    DriveTestLog log;
    log.header(0x03, ci.bytes).gps(40.5, -74.4, 0);
    for (int i = 0; i < 3; ++i)
        log.scan({{0, 0, -60}, {1, 2, -70}}); // R1 slot 0 and R2 slot 2 (the padding repeats R2's)
    log.table({{1, 20, -80}, {1, 20, -81}});
    log.currentFrequency(DriveTestLog::kLowEdge + 4, DriveTestLog::kLowEdge + 8).single(0, {-90, -91});
    log.gps(40.6, -74.3, 1);
    const std::string path = write("channels.KLF", log.bytes);

    const ToolRun text = inspect(path);
    ASSERT_EQ(text.exitCode, 0) << text.output;
    for (const char* line : {"  R1 scan    channel 1      851.0000 MHz  3 sample(s)",
                             "  R2 scan    channel 13     851.3000 MHz  3 sample(s)",
                             "  R2 table   channel 21     851.5000 MHz  2 sample(s)"})
        EXPECT_NE(text.output.find(line), std::string::npos) << line << "\n" << text.output;
    EXPECT_NE(text.output.find("  R1 single"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("851.1000 MHz  1 sample(s)"), std::string::npos) << text.output;

    const ToolRun json = inspect("--json " + path);
    EXPECT_NE(json.output.find("{\"receiver\": 2, \"mode\": \"table\", \"channel\": 21"), std::string::npos)
        << json.output;

    const ToolRun piped = inspect("- < " + path);
    EXPECT_NE(piped.output.find("channels and frequencies: not listed for standard input"), std::string::npos)
        << piped.output;
}
