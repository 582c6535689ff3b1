// klf-export as a user runs it, at its edges: an output that names its own
// input, a disk that fills up, a damaged or empty log (where it must agree
// with klf-inspect), a filter that matches nothing.
#include "drive/DriveTestLog.h"
#include "export/ToolRun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <unistd.h>

namespace {

class KlfExportTool : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        DriveTestLog ci;
        ci.scanChannelList();
        log.header(0x03, ci.bytes);
        headerEnd = log.bytes.size();
        for (int s = 0; s < 20; ++s) {
            log.gps(40.5 + 0.001 * s, -74.4 + 0.0015 * s, s);
            if (s == 5)
                scanAt = log.bytes.size();
            for (int k = 0; k < 4; ++k)
                log.scan({{k % 2, (2 * k) % 10, -60 - (s + k) % 40}, {k % 2, (2 * k + 1) % 10, -90}});
        }
    }

    std::string path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    // Exit status; standard error in err.
    int exportLog(const std::string& args)
    {
        const Ran r = run(tool("klf-export") + " " + args + " 2>'" + path("stderr.txt") + "' >/dev/null");
        err = readText(path("stderr.txt"));
        return r.status;
    }

    QStringList filesInDir() const
    {
        QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        names.removeAll(QStringLiteral("stderr.txt"));
        names.sort();
        return names;
    }

    QTemporaryDir dir;
    DriveTestLog log;
    size_t headerEnd = 0;
    size_t scanAt = 0; // a scan record in the middle of the drive
    std::string err;
};

TEST_F(KlfExportTool, RefusesAnOutputThatIsItsInputByAnyName)
{
    const std::string klf = log.write(path("same.KLF"));
    ASSERT_EQ(::link(klf.c_str(), path("hard.KLF").c_str()), 0);
    ASSERT_EQ(::symlink("same.KLF", path("soft.KLF").c_str()), 0);
    const std::string original = readText(klf);
    for (const std::string& output : {klf, dir.path().toStdString() + "/./same.KLF", path("hard.KLF"), path("soft.KLF")}) {
        SCOPED_TRACE(output);
        EXPECT_EQ(exportLog("-o '" + output + "' '" + klf + "'"), 3) << err;
        EXPECT_NE(err.find("is the log being read"), std::string::npos) << err;
        EXPECT_EQ(readText(klf), original) << "the log was written over";
    }
    // The log through standard input is the same file too.
    EXPECT_EQ(exportLog("-o '" + path("hard.KLF") + "' - <'" + klf + "'"), 3) << err;
    EXPECT_EQ(readText(klf), original);
}

TEST_F(KlfExportTool, AFailedWriteLeavesTheEarlierFileAsItWasAndNoTemporaryFile)
{
    const std::string klf = log.write(path("drive.KLF"));
    const std::string csv = path("drive.csv");
    {
        std::ofstream old(csv);
        old << "the earlier export\n";
    }
    // A file size limit stands in for a full disk: writes fail with EFBIG
    // once the output passes 2 KiB (the signal it raises is ignored).
    const Ran r = run("(trap '' XFSZ; ulimit -f 4; " + tool("klf-export") + " -o '" + csv + "' '" + klf + "') 2>'"
                      + path("stderr.txt") + "'");
    err = readText(path("stderr.txt"));
    EXPECT_EQ(r.status, 3) << err;
    EXPECT_NE(err.find("drive.csv is as it was"), std::string::npos) << err;
    EXPECT_EQ(readText(csv), "the earlier export\n");
    EXPECT_EQ(filesInDir(), (QStringList{"drive.KLF", "drive.csv"}));

    // With room, the whole export replaces it.
    ASSERT_EQ(exportLog("-o '" + csv + "' '" + klf + "'"), 0) << err;
    const std::string whole = readText(csv);
    EXPECT_EQ(whole.rfind("time,latitude,", 0), 0u);
    EXPECT_GT(whole.size(), 4096u) << "the limit above must cut this export";
    EXPECT_EQ(filesInDir(), (QStringList{"drive.KLF", "drive.csv"}));
}

// The same log gets the same verdict from both tools: 0 whole, 1 malformed,
// 2 last record cut short.
TEST_F(KlfExportTool, GivesTheVerdictAndExitStatusOfKlfInspect)
{
    struct Case { const char* name; std::function<void(std::vector<uint8_t>&)> damage; int status; };
    const Case cases[] = {
        {"whole", [](std::vector<uint8_t>&) {}, 0},
        {"empty", [](std::vector<uint8_t>& b) { b.clear(); }, 1},
        {"bad checksum", [this](std::vector<uint8_t>& b) { b[scanAt + 4] ^= 0x55; }, 1},
        {"bad length", [this](std::vector<uint8_t>& b) { b[scanAt] = 0xFF; b[scanAt + 1] = 0x7F; }, 1},
        {"cut short", [](std::vector<uint8_t>& b) { b.resize(b.size() - 3); }, 2},
        {"records only", [this](std::vector<uint8_t>& b) { b.erase(b.begin(), b.begin() + long(headerEnd)); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DriveTestLog damaged = log;
        c.damage(damaged.bytes);
        const std::string klf = damaged.write(path("case.KLF"));
        const Ran inspected = run(tool("klf-inspect") + " '" + klf + "' 2>&1");
        EXPECT_EQ(inspected.status, c.status) << inspected.out;
        EXPECT_EQ(exportLog("-o '" + path("case.csv") + "' '" + klf + "'"), c.status) << err;
    }
}

// A bad checksum costs that record only: the export says so, says where,
// and goes on with the records after it.
TEST_F(KlfExportTool, BadChecksumSaysWhichRecordsWereSkippedAndExportsTheRest)
{
    const std::string whole = log.write(path("whole.KLF"));
    ASSERT_EQ(exportLog("-o '" + path("whole.csv") + "' '" + whole + "'"), 0) << err;
    DriveTestLog damaged = log;
    damaged.bytes[scanAt + 4] ^= 0x55;
    const std::string klf = damaged.write(path("bad.KLF"));
    EXPECT_EQ(exportLog("-o '" + path("bad.csv") + "' '" + klf + "'"), 1) << err;
    EXPECT_NE(err.find("1 record(s) with a bad checksum skipped, the first at offset " + std::to_string(scanAt)),
              std::string::npos) << err;
    EXPECT_EQ(err.find("stopped"), std::string::npos) << err;
    EXPECT_EQ(err.find("what came before"), std::string::npos) << err;

    auto rows = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };
    // One scan record's two readings are lost (the device pads the report by repeating the last), nothing else.
    EXPECT_EQ(rows(readText(path("bad.csv"))), rows(readText(path("whole.csv"))) - 2);
}

TEST_F(KlfExportTool, AFilterThatMatchesNothingSaysSo)
{
    const std::string klf = log.write(path("drive.KLF"));
    struct Case { const char* filter; bool matches; };
    const Case cases[] = {
        {"--channel 999", false}, {"--frequency 900", false}, {"--receiver 2 --frequency 851.0", false},
        {"", true}, {"--receiver 2", true}, {"--frequency 851.0", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(exportLog(std::string(c.filter) + " -o '" + path("d.csv") + "' '" + klf + "'"), 0) << err;
        const bool said = err.find("no sample of " + klf + " matches --") != std::string::npos;
        EXPECT_EQ(said, !c.matches) << err;
    }
}

} // namespace
