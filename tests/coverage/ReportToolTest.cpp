// klf-report on logs and maps, its figures against a count of the samples
// themselves, its files read back with GDAL's tools and gpsbabel.
#include "CoverageTestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cmath>
#include <filesystem>
#include <random>
#include <fstream>

using namespace CoverageTest;

namespace {

class ReportTool : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // Two drives of the same streets, slowly enough for tested tiles.
        logs = {writeDrive(path("a.KLF"), 11, 52.2000, 0.1200, 0.00002, 0.00001, 900),
                writeDrive(path("b.KLF"), 12, 52.2003, 0.1200, 0.00002, 0.00001, 900)};
    }

    std::string path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    Ran report(const std::string& args) { return run(tool("klf-report") + " " + args + " 2>&1"); }

    static QJsonObject json(const std::string& file)
    {
        std::ifstream in(file);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    }

    std::string writeText(const std::string& name, const std::string& text)
    {
        std::ofstream(path(name)) << text;
        return path(name);
    }

    // A rectangle as GeoJSON, in WGS 84.
    std::string rectangle(const std::string& name, double south, double west, double north, double east)
    {
        char text[512];
        std::snprintf(text, sizeof text,
                      "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\",\"properties\":{},"
                      "\"geometry\":{\"type\":\"Polygon\",\"coordinates\":[[[%.7f,%.7f],[%.7f,%.7f],[%.7f,%.7f],"
                      "[%.7f,%.7f],[%.7f,%.7f]]]}}]}",
                      west, south, east, south, east, north, west, north, west, south);
        return writeText(name, text);
    }

    QTemporaryDir dir;
    std::vector<std::string> logs;
};

TEST_F(ReportTool, FiguresFromLogsAreThoseOfTheSamplesCountedOneByOne)
{
    const double threshold = -86;
    const Ran r = report("--threshold -86 --tile 100 --json " + path("r.json") + " " + logs[0] + " " + logs[1]);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("claims nothing"), std::string::npos) << r.out;
    // The same tiles counted from the raw samples: 36 or more make a test,
    // the median (lower middle) decides it.
    std::map<std::pair<int, double>, std::array<long long, 3>> want; // in area, tested, passed
    for (const auto& [id, f] : rawFigures(logs, 100)) {
        auto& w = want[{std::get<2>(id), std::get<3>(id)}];
        ++w[0];
        if (f.count >= 36) {
            ++w[1];
            if (f.median >= threshold)
                ++w[2];
        }
    }
    const QJsonObject o = json(path("r.json"));
    EXPECT_EQ(o["threshold_dbm"].toDouble(), threshold);
    EXPECT_EQ(o["estimator"].toString(), "median");
    EXPECT_EQ(o["tile_m"].toDouble(), 100);
    EXPECT_EQ(o["drives"].toArray().size(), 2);
    const QJsonArray sections = o["sections"].toArray();
    ASSERT_EQ(size_t(sections.size()), want.size());
    long long tested = 0;
    for (const QJsonValue& v : sections) {
        const QJsonObject s = v.toObject();
        const double mhz = double(std::llround(s["frequency_mhz"].toDouble() * 256000.0)) / 256000.0;
        const auto it = want.find({s["receiver"].toInt(), mhz});
        ASSERT_NE(it, want.end()) << s["receiver"].toInt() << " " << mhz;
        EXPECT_EQ(s["tiles_in_area"].toInteger(), it->second[0]);
        EXPECT_EQ(s["tiles_tested"].toInteger(), it->second[1]);
        EXPECT_EQ(s["tiles_passed"].toInteger(), it->second[2]);
        tested += it->second[1];
        const QString verdict = s["verdict"].toString();
        EXPECT_TRUE(verdict == "PASS" || verdict == "FAIL" || verdict == "INCONCLUSIVE");
        EXPECT_LE(s["lower_bound"].toDouble(), s["upper_bound"].toDouble());
    }
    EXPECT_GT(tested, 0) << "the drives should give tested tiles";
}

TEST_F(ReportTool, AMapOfTheTileSizeGivesWhatItsLogsGive)
{
    const Ran made = run(tool("klf-coverage") + " --cell 100 -o " + path("m.gpkg") + " " + logs[0] + " " + logs[1]
                         + " 2>&1");
    ASSERT_EQ(made.status, 0) << made.out;
    const std::string area = rectangle("area.geojson", 52.198, 0.118, 52.22, 0.132);
    ASSERT_EQ(report("--threshold -90 --area " + area + " --receiver 1 --json " + path("logs.json") + " " + logs[0]
                     + " " + logs[1]).status,
              0);
    const Ran r = report("--threshold -90 --area " + area + " --receiver 1 --json " + path("map.json") + " "
                         + path("m.gpkg"));
    ASSERT_EQ(r.status, 0) << r.out;
    const QJsonArray a = json(path("logs.json"))["sections"].toArray(), b = json(path("map.json"))["sections"].toArray();
    ASSERT_EQ(a.size(), b.size());
    ASSERT_GT(a.size(), 0);
    for (qsizetype i = 0; i < a.size(); ++i)
        for (const char* k : {"receiver", "tiles_in_area", "tiles_tested", "tiles_passed", "verdict"})
            EXPECT_EQ(a[i].toObject()[k], b[i].toObject()[k]) << k;
    // A tile smaller than the map's cells would split them.
    const Ran small = report("--threshold -90 --tile 50 --json " + path("x.json") + " " + path("m.gpkg"));
    EXPECT_EQ(small.status, 3) << small.out;
    EXPECT_NE(small.out.find("--tile 100"), std::string::npos) << small.out;
}

TEST_F(ReportTool, BadInputIsOneLineWithStatusThreeAndNothingWritten)
{
    const Ran made = run(tool("klf-coverage") + " --cell 100 -o " + path("m.gpkg") + " " + logs[0] + " 2>&1");
    ASSERT_EQ(made.status, 0) << made.out;
    const std::string points = writeText(
        "points.geojson", "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\",\"properties\":{},"
                          "\"geometry\":{\"type\":\"Point\",\"coordinates\":[0.12,52.2]}}]}");
    const std::string elsewhere = rectangle("elsewhere.geojson", 48.0, 2.0, 48.1, 2.1);
    const std::string tiny = rectangle("tiny.geojson", 52.20001, 0.12001, 52.20002, 0.12002);
    const std::string out = " -o " + path("r.html") + " --json " + path("r.json") + " --next " + path("n.gpx")
                            + " --tiles-out " + path("t.gpkg");
    std::ofstream(path("r.json")) << "the old figures";
    struct Row
    {
        const char* what;
        std::string args;
        const char* says;
    };
    const Row rows[] = {
        {"threshold too low", "--threshold -151 " + logs[0], "-150 to 0"},
        {"threshold above 0", "--threshold 1 " + logs[0], "-150 to 0"},
        {"confidence too low", "--threshold -90 --confidence 49.9 " + logs[0], "50 to 99.9"},
        {"confidence too high", "--threshold -90 --confidence 100 " + logs[0], "50 to 99.9"},
        {"no threshold", logs[0], "--threshold"},
        {"lee with a map", "--threshold -90 --estimator lee " + path("m.gpkg"), "needs logs"},
        {"channel with a map", "--threshold -90 --channel 3 " + path("m.gpkg"), "needs logs"},
        {"area of points", "--threshold -90 --area " + points + " " + logs[0], "no polygon"},
        {"area elsewhere", "--threshold -90 --area " + elsewhere + " " + logs[0], "misses every driven tile"},
        {"area smaller than a tile", "--threshold -90 --area " + tiny + " " + logs[0], "no 100 m tile"},
        {"no such area", "--threshold -90 --area " + path("none.geojson") + " " + logs[0], "none.geojson"},
        {"no such log", "--threshold -90 " + path("none.KLF"), "none.KLF"},
    };
    for (const Row& row : rows) {
        const Ran r = report(row.args + out);
        EXPECT_EQ(r.status, 3) << row.what << ": " << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << row.what << ": " << r.out;
        EXPECT_EQ(r.out.rfind("klf-report: ", 0), 0u) << row.what << ": " << r.out;
        EXPECT_NE(r.out.find(row.says), std::string::npos) << row.what << ": " << r.out;
    }
    std::ifstream in(path("r.json"));
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), "the old figures");
    for (const char* name : {"r.html", "n.gpx", "t.gpkg"})
        EXPECT_FALSE(std::filesystem::exists(path(name))) << name;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path().toStdString()))
        EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
}

TEST_F(ReportTool, TheTilesAndThePlacesToDriveNextOpenInGisAndNavigationTools)
{
    const std::string area = rectangle("area.geojson", 52.195, 0.115, 52.225, 0.135);
    const Ran r = report("--threshold -90 --area " + area + " --receiver 2 --frequency 851.1 --tiles-out " + path("t.gpkg") + " --next "
                         + path("n.gpx") + " --json " + path("r.json") + " " + logs[0]);
    ASSERT_EQ(r.status, 0) << r.out;
    long long inArea = 0, untested = 0;
    for (const QJsonValue& v : json(path("r.json"))["sections"].toArray()) {
        inArea += v.toObject()["tiles_in_area"].toInteger();
        untested += v.toObject()["tiles_in_area"].toInteger() - v.toObject()["tiles_tested"].toInteger();
    }
    ASSERT_GT(untested, 0);
    const Ran tiles = run("ogrinfo -ro -so " + path("t.gpkg") + " tiles 2>&1");
    EXPECT_NE(tiles.out.find("Feature Count: " + std::to_string(inArea)), std::string::npos) << tiles.out;
    for (const char* field : {"receiver:", "frequency_mhz:", "samples:", "value_dbm:", "tested:", "passed:"})
        EXPECT_NE(tiles.out.find(field), std::string::npos) << field;
    const Ran next = run("ogrinfo -ro -so " + path("t.gpkg") + " next 2>&1");
    EXPECT_NE(next.out.find("Feature Count: " + std::to_string(untested)), std::string::npos) << next.out;
    const Ran style = run("ogrinfo -ro " + path("t.gpkg") + " -sql \"SELECT f_table_name FROM layer_styles\" 2>&1");
    EXPECT_NE(style.out.find("= tiles"), std::string::npos) << style.out;
    // gpsbabel reads the waypoints: one per untested tile (a single section, so no tile twice).
    const Ran gpx = run("gpsbabel -i gpx -f " + path("n.gpx") + " -o unicsv -F - 2>&1");
    ASSERT_EQ(gpx.status, 0) << gpx.out;
    EXPECT_EQ(std::count(gpx.out.begin(), gpx.out.end(), '\n'), untested + 1) << gpx.out.substr(0, 400);
}

TEST_F(ReportTool, AnAreaInAnotherCoordinateSystemTakesTheSameTiles)
{
    const std::string area = rectangle("area.geojson", 52.195, 0.115, 52.225, 0.135);
    const Ran shp = run("ogr2ogr -t_srs EPSG:32631 " + path("utm.shp") + " " + area + " 2>&1");
    ASSERT_EQ(shp.status, 0) << shp.out;
    ASSERT_EQ(report("--threshold -90 --receiver 1 --area " + area + " --json " + path("a.json") + " " + logs[0]).status, 0);
    const Ran r = report("--threshold -90 --receiver 1 --area " + path("utm.shp") + " --json " + path("b.json") + " "
                         + logs[0]);
    ASSERT_EQ(r.status, 0) << r.out;
    const QJsonArray a = json(path("a.json"))["sections"].toArray(), b = json(path("b.json"))["sections"].toArray();
    ASSERT_EQ(a.size(), b.size());
    ASSERT_GT(a.size(), 0);
    // The projected rectangle's edges bow a little against the parallels:
    // the tiles along them may differ, no more.
    const long long na = a[0].toObject()["tiles_in_area"].toInteger(), nb = b[0].toObject()["tiles_in_area"].toInteger();
    EXPECT_NEAR(double(na), double(nb), 0.03 * double(na));
    EXPECT_EQ(a[0].toObject()["tiles_tested"], b[0].toObject()["tiles_tested"]);
}

// Fast fading through the whole chain: a log whose readings scatter as
// Rayleigh fading does around -80 dBm. Lee's local means find -80; the
// median of the readings lies about 1.6 dB below.
TEST_F(ReportTool, LeeLocalMeansFromALogFindTheMeanPowerThatTheMedianMisses)
{
    std::mt19937 random(5);
    std::exponential_distribution<double> fading(1.0);
    DriveTestLog log;
    log.header().scanChannelList();
    for (int s = 0; s <= 600; ++s) {
        // North at 2 m/s: a 14 m stretch at 851 MHz holds some 700 readings.
        log.gpsAtSecond(48.0 + s * 2.0 / 111195.0, 11.0, 43200 + s);
        for (int k = 0; k < 20; ++k) {
            std::vector<std::array<int, 3>> entries;
            for (int e = 0; e < 5; ++e)
                entries.push_back({0, 0, int(std::lround(-80 + 10 * std::log10(fading(random))))});
            log.scan(entries);
        }
    }
    const std::string faded = log.write(path("faded.KLF"));
    for (const char* estimator : {"lee", "median"}) {
        const std::string tiles = path(std::string(estimator) + ".gpkg");
        const Ran r = report(std::string("--threshold -81 --receiver 1 --estimator ") + estimator + " --tiles-out "
                             + tiles + " " + faded);
        ASSERT_EQ(r.status, 0) << r.out;
        const Ran values = run("ogr2ogr -f CSV /vsistdout/ " + tiles
                               + " -sql 'SELECT value_dbm FROM tiles WHERE tested' 2>&1");
        std::istringstream in(values.out);
        std::string line;
        std::getline(in, line);
        ASSERT_EQ(line.rfind("value_dbm", 0), 0u) << values.out;
        int tested = 0;
        while (std::getline(in, line)) {
            const double v = std::stod(line);
            if (std::string(estimator) == "lee")
                EXPECT_NEAR(v, -80.0, 1.0) << line;
            else
                EXPECT_TRUE(v <= -81 && v >= -83) << line;
            ++tested;
        }
        EXPECT_GE(tested, 8) << estimator;
    }
}

} // namespace
