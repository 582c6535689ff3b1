// What GIS and GPS tools make of klf-export's files: GDAL's ogrinfo (as QGIS
// reads them), gpsbabel and xmllint, run on the files the installed command
// writes.
#include "drive/DriveReader.h"
#include "drive/DriveTestLog.h"
#include "export/ToolRun.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>

namespace {

// "Feature Count: N" of one layer in ogrinfo -so output, -1 if absent.
long featureCount(const std::string& info, const std::string& layer)
{
    const std::regex re("Layer name: " + layer + "\\n(?:[^\\n]*\\n)*?Feature Count: (\\d+)");
    std::smatch m;
    return std::regex_search(info, m, re) ? std::stol(m[1]) : -1;
}

class CountingSink : public DriveSink
{
public:
    void fix(const DriveFix& f) override { used += f.used; }
    uint64_t used = 0;
};

// A drive of the three modes: thirty seconds with one lost fix, settings
// changing half way.
class ExportReaders : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        DriveTestLog ci;
        ci.scanChannelList();
        DriveTestLog log;
        log.header(0x03, ci.bytes);
        for (int s = 0; s < 30; ++s) {
            log.gps(40.5 + 0.001 * s, -74.4 + 0.0015 * s, s, s == 12 ? 0x60 : 0xE0);
            if (s == 15)
                log.receiverSetup(0x03, DriveTestLog::block(34000, 34400, 3200), DriveTestLog::block(34040, 34400, 6400));
            for (int k = 0; k < 6; ++k)
                log.scan({{k % 2, (2 * k) % 10, -60 - (s + k) % 40}, {k % 2, (2 * k + 1) % 10, -90}});
            log.single(s % 2, {-70 - s, -71 - s});
            log.table({{0, 10 + s, -80}, {1, 20 + s, -81}});
        }
        logPath = dir.filePath("drive.KLF").toStdString();
        log.write(logPath);
        cutLog = log;
        CountingSink sink;
        const DriveSummary s = DriveReader().read(logPath, sink);
        placed = s.samplesPlaced;
        usedFixes = sink.used;
        ASSERT_EQ(usedFixes, 29u);
        ASSERT_GT(placed, 300u);
    }

    std::string out(const char* name) const { return dir.filePath(name).toStdString(); }

    Ran exportTo(const std::string& output, const std::string& extra = "")
    {
        return run(tool("klf-export") + " " + extra + " -o '" + output + "' '" + logPath + "' 2>'" + out("stderr.txt")
                   + "'");
    }

    QTemporaryDir dir;
    std::string logPath;
    DriveTestLog cutLog;
    uint64_t placed = 0;
    uint64_t usedFixes = 0;
};

TEST_F(ExportReaders, OgrinfoReadsGeoJsonWithEveryColumn)
{
    ASSERT_EQ(exportTo(out("d.geojson")).status, 0) << readText(out("stderr.txt"));
    const Ran info = run("ogrinfo -ro -so -al '" + out("d.geojson") + "'");
    ASSERT_EQ(info.status, 0) << info.out;
    EXPECT_EQ(featureCount(info.out, "d"), long(placed)) << info.out;
    EXPECT_NE(info.out.find("Geometry: Point"), std::string::npos);
    for (const char* field : {"time: DateTime", "latitude: Real", "longitude: Real", "receiver: Integer",
                              "mode: String", "channel: Integer", "frequency_mhz: Real", "rssi_dbm: Integer"})
        EXPECT_NE(info.out.find(field), std::string::npos) << field << "\n" << info.out;
}

TEST_F(ExportReaders, OgrinfoReadsCsvAsPointsWithTypedColumns)
{
    ASSERT_EQ(exportTo(out("d.csv")).status, 0) << readText(out("stderr.txt"));
    const Ran info = run("ogrinfo -ro -so -al -oo X_POSSIBLE_NAMES=longitude -oo Y_POSSIBLE_NAMES=latitude"
                         " -oo AUTODETECT_TYPE=YES '" + out("d.csv") + "'");
    ASSERT_EQ(info.status, 0) << info.out;
    EXPECT_EQ(featureCount(info.out, "d"), long(placed)) << info.out;
    EXPECT_NE(info.out.find("Geometry: Point"), std::string::npos) << info.out;
    for (const char* field : {"time: DateTime", "latitude: Real", "receiver: Integer", "frequency_mhz: Real",
                              "rssi_dbm: Integer"})
        EXPECT_NE(info.out.find(field), std::string::npos) << field << "\n" << info.out;
}

TEST_F(ExportReaders, OgrinfoAndGpsbabelReadTheGpxTrack)
{
    ASSERT_EQ(exportTo(out("d.gpx")).status, 0) << readText(out("stderr.txt"));
    const Ran info = run("ogrinfo -ro -so -oo GPX_USE_EXTENSIONS=YES '" + out("d.gpx") + "' tracks track_points");
    ASSERT_EQ(info.status, 0) << info.out;
    EXPECT_EQ(featureCount(info.out, "tracks"), 1) << info.out;
    EXPECT_EQ(featureCount(info.out, "track_points"), long(usedFixes)) << info.out;
    EXPECT_NE(info.out.find("tavrix_rssi_dbm: Integer"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("ele: Real"), std::string::npos);

    // Every point after the first carries a value: each second has samples.
    const Ran values = run("ogrinfo -ro -q -oo GPX_USE_EXTENSIONS=YES '" + out("d.gpx")
                           + "' track_points | grep -c 'tavrix_rssi_dbm (Integer) = -'");
    EXPECT_EQ(std::stol(values.out), long(usedFixes) - 1) << values.out;

    const Ran babel = run("gpsbabel -t -i gpx -f '" + out("d.gpx") + "' -o unicsv -F -");
    ASSERT_EQ(babel.status, 0) << babel.out;
    std::istringstream rows(babel.out);
    std::string header, row;
    std::getline(rows, header);
    EXPECT_NE(header.find("Latitude"), std::string::npos) << header;
    EXPECT_NE(header.find("Altitude"), std::string::npos) << header;
    long n = 0;
    while (std::getline(rows, row))
        n += !row.empty();
    EXPECT_EQ(n, long(usedFixes));
}

TEST_F(ExportReaders, OgrinfoReadsKmlFoldersAndRoute)
{
    ASSERT_EQ(exportTo(out("d.kml")).status, 0) << readText(out("stderr.txt"));
    const Ran info = run("ogrinfo -ro -so -al '" + out("d.kml") + "'");
    ASSERT_EQ(info.status, 0) << info.out;
    EXPECT_EQ(featureCount(info.out, "Route"), 1) << info.out;
    EXPECT_EQ(featureCount(info.out, "R1"), long(usedFixes)) << info.out;
    EXPECT_EQ(featureCount(info.out, "R2"), long(usedFixes)) << info.out;
    EXPECT_NE(info.out.find("Name: String"), std::string::npos);

    ASSERT_EQ(exportTo(out("r2.kml"), "--receiver 2").status, 0);
    const Ran r2 = run("ogrinfo -ro -so -al '" + out("r2.kml") + "'");
    EXPECT_EQ(featureCount(r2.out, "R1"), -1) << r2.out;
    EXPECT_EQ(featureCount(r2.out, "R2"), long(usedFixes)) << r2.out;
}

TEST_F(ExportReaders, XmllintFindsGpxAndKmlWellFormed)
{
    ASSERT_EQ(exportTo(out("d.gpx")).status, 0);
    ASSERT_EQ(exportTo(out("d.kml"), "--range -110,-60").status, 0);
    const Ran lint = run("xmllint --noout '" + out("d.gpx") + "' '" + out("d.kml") + "' 2>&1");
    EXPECT_EQ(lint.status, 0) << lint.out;
    EXPECT_EQ(lint.out, "");
}

TEST_F(ExportReaders, CutOffLogExportsWhatIsWholeAndExitsWithTwo)
{
    const size_t whole = cutLog.bytes.size();
    cutLog.scan({{0, 0, -55}});
    cutLog.bytes.resize(cutLog.bytes.size() - 3);
    const std::string cut = cutLog.write(out("cut.KLF"));
    const Ran r = run(tool("klf-export") + " '" + cut + "' 2>'" + out("stderr.txt") + "'");
    EXPECT_EQ(r.status, 2);
    const std::string err = readText(out("stderr.txt"));
    EXPECT_NE(err.find("offset " + std::to_string(whole)), std::string::npos) << err;
    EXPECT_NE(err.find("cut short"), std::string::npos) << err;
    EXPECT_NE(err.find("fixes: 29 used, 1 skipped"), std::string::npos) << err;
    // Standard output, CSV: the header row and every placed sample.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), long(placed) + 1);
    EXPECT_EQ(r.out.rfind("time,latitude,longitude,receiver,mode,channel,frequency_mhz,rssi_dbm\n", 0), 0u);

    const Ran missing = run(tool("klf-export") + " '" + out("nothere.KLF") + "' 2>/dev/null");
    EXPECT_EQ(missing.status, 3);
}

TEST_F(ExportReaders, SummaryNamesCountsAndRanges)
{
    ASSERT_EQ(exportTo(out("d.csv"), "--receiver 1").status, 0);
    const std::string err = readText(out("stderr.txt"));
    EXPECT_NE(err.find("fixes: 29 used, 1 skipped"), std::string::npos) << err;
    EXPECT_NE(err.find("R1: "), std::string::npos) << err;
    EXPECT_NE(err.find("R2: no placed samples"), std::string::npos) << err;
    EXPECT_EQ(err.find('\r'), std::string::npos) << "no progress bar off a terminal";
    EXPECT_EQ(err.find("time jump"), std::string::npos) << err;
}

// The receiver's clock falls back a GPS week rollover and the drive goes on:
// the samples around the jump are left out, and the summary says how many.
TEST_F(ExportReaders, SummaryCountsSamplesLeftOutAcrossATimeJump)
{
    cutLog.scan({{0, 0, -55}, {1, 1, -56}})
        .gpsAt(40.6, -74.3, 1984, 0, 30)
        .scan({{0, 2, -57}})
        .gpsAt(40.6, -74.3, 1984, 0, 31);
    const std::string jumped = cutLog.write(out("jump.KLF"));
    CountingSink sink;
    const DriveSummary s = DriveReader().read(jumped, sink);
    ASSERT_GE(s.samplesAcrossTimeJump, 2u);
    EXPECT_EQ(s.samplesPlaced, placed + 1);

    const Ran r = run(tool("klf-export") + " -o '" + out("j.csv") + "' '" + jumped + "' 2>'" + out("stderr.txt") + "'");
    EXPECT_EQ(r.status, 0);
    const std::string err = readText(out("stderr.txt"));
    EXPECT_NE(err.find("klf-export: " + jumped + ": " + std::to_string(s.samplesAcrossTimeJump)
                       + " samples not placed across a time jump"),
              std::string::npos)
        << err;
    const std::string csv = readText(out("j.csv"));
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), long(placed) + 2)
        << "the header row and the placed samples only";
}

TEST(KlfExportHelp, ManPageCoversEveryOptionOfTheHelp)
{
    const Ran help = run(tool("klf-export") + " --help");
    ASSERT_EQ(help.status, 0);
    const std::string page = readText(KLF_EXPORT_MAN_PAGE);
    ASSERT_FALSE(page.empty());
    const std::regex option("(^|[ \\[|])(--?[a-z][a-z-]*)");
    int options = 0;
    for (auto it = std::sregex_iterator(help.out.begin(), help.out.end(), option); it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[2];
        ++options;
        EXPECT_NE(page.find("*" + name), std::string::npos) << name << " is not in the man page";
    }
    EXPECT_GE(options, 8);
}

} // namespace
