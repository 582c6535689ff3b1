// klf-coverage writing GeoPackages, read back with GDAL's own tools.
#include "CoverageTestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace CoverageTest;

namespace {

class CoverageTool : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    std::string path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    Ran coverage(const std::string& args) { return run(tool("klf-coverage") + " " + args + " 2>&1"); }

    static void expectFiguresOfSamples(const std::map<CellId, Figures>& map, const std::map<CellId, Figures>& raw)
    {
        ASSERT_EQ(map.size(), raw.size());
        for (const auto& [id, want] : raw) {
            const auto it = map.find(id);
            ASSERT_NE(it, map.end()) << std::get<0>(id) << "," << std::get<1>(id);
            const Figures& got = it->second;
            EXPECT_EQ(got.count, want.count);
            EXPECT_EQ(got.minimum, want.minimum);
            EXPECT_EQ(got.maximum, want.maximum);
            EXPECT_EQ(got.p10, want.p10);
            EXPECT_EQ(got.median, want.median);
            EXPECT_EQ(got.p90, want.p90);
            EXPECT_NEAR(got.mean, want.mean, 1e-9);
            EXPECT_EQ(got.drives, want.drives);
        }
    }

    // The names in a folder, hidden ones too: what a run left there.
    static std::vector<std::string> namesIn(const std::string& folder)
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::string bytesOf(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Whether process pid has file open.
    static bool holdsOpen(qint64 pid, const std::string& file)
    {
        std::error_code ec;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
            std::error_code lost; // closed meanwhile
            if (std::filesystem::read_symlink(fd.path(), lost) == file)
                return true;
        }
        return false;
    }

    // Runs klf-coverage on logs ending with a sparse log of 1 TiB, whose
    // SHA-256 takes minutes, and once it reads that sends it signal: the
    // tool has to see it while hashing, well within the safety net.
    void interruptWhileHashing(const QStringList& args, int signal, QProcess& p)
    {
        const std::string huge = path("huge.KLF");
        std::ofstream(huge).flush();
        std::filesystem::resize_file(huge, uintmax_t(1) << 40);
        p.start(QString::fromStdString(tool("klf-coverage")), QStringList(args) << QString::fromStdString(huge));
        ASSERT_TRUE(p.waitForStarted(60000));
        QElapsedTimer waited;
        waited.start();
        while (!holdsOpen(p.processId(), huge) && p.state() == QProcess::Running && waited.elapsed() < 60000)
            p.waitForFinished(10);
        ASSERT_TRUE(holdsOpen(p.processId(), huge)) << p.readAllStandardError().toStdString();
        ::kill(pid_t(p.processId()), signal);
        const bool ended = p.waitForFinished(60000);
        if (!ended)
            p.kill();
        ::unlink(huge.c_str());
        ASSERT_TRUE(ended) << "the signal was not seen while hashing";
    }

    QTemporaryDir dir;
};

TEST_F(CoverageTool, OgrinfoReadsTheLayersTheirFieldsAndTheStyle)
{
    const std::string log = writeDrive(path("a.KLF"), 1, 48.85, 2.35, 0.0002, 0.0003, 60);
    const Ran made = coverage("-o '" + path("m.gpkg") + "' '" + log + "'");
    ASSERT_EQ(made.status, 0) << made.out;
    EXPECT_NE(made.out.find("1 logs added, 0 skipped"), std::string::npos) << made.out;

    const Ran info = run("ogrinfo -ro -so -al '" + path("m.gpkg") + "' 2>&1");
    ASSERT_EQ(info.status, 0) << info.out;
    for (const char* expected : {"Layer name: cells\nGeometry: Polygon", "Layer name: routes\nGeometry: Line String",
                                 "Layer name: drives\nGeometry: None",
                                 "Layer name: layer_styles\nGeometry: None", "median_dbm: Integer", "p10_dbm: Integer",
                                 "p90_dbm: Integer", "mean_dbm: Real", "count: Integer64", "first_time: DateTime",
                                 "sha256: String", "serial_number: String", "samples_placed: Integer64"})
        EXPECT_NE(info.out.find(expected), std::string::npos) << expected;
    EXPECT_TRUE(std::regex_search(info.out, std::regex("Layer name: cells\\n[\\s\\S]*?ID\\[\"EPSG\",4326\\]")));
    EXPECT_TRUE(std::regex_search(info.out, std::regex("Layer name: drives\\n[\\s\\S]*?Feature Count: 1\\n")));
    EXPECT_TRUE(std::regex_search(info.out, std::regex("Layer name: routes\\n[\\s\\S]*?Feature Count: 1\\n")));

    const Ran style = run("ogrinfo -ro -q '" + path("m.gpkg")
                          + "' -sql \"SELECT styleName, useAsDefault, substr(styleQML, 1, 200) AS head FROM layer_styles"
                            " WHERE f_table_name = 'cells' AND f_geometry_column = 'geom'\" 2>&1");
    EXPECT_NE(style.out.find("styleName (String) = Median RSSI"), std::string::npos) << style.out;
    EXPECT_NE(style.out.find("attr=\"median_dbm\""), std::string::npos) << style.out;

    const Ran index = run("ogrinfo -ro -q '" + path("m.gpkg")
                          + "' -sql \"SELECT table_name FROM gpkg_extensions WHERE extension_name = 'gpkg_rtree_index'\"");
    EXPECT_NE(index.out.find("= cells"), std::string::npos) << index.out;
    EXPECT_NE(index.out.find("= routes"), std::string::npos) << index.out;

    const Ran hash = run("sha256sum '" + log + "'");
    const Ran drive = run("ogrinfo -ro -q '" + path("m.gpkg") + "' drives");
    EXPECT_NE(drive.out.find("sha256 (String) = " + hash.out.substr(0, 64)), std::string::npos) << drive.out;
    EXPECT_NE(drive.out.find("serial_number (String) = AB123456"), std::string::npos) << drive.out;
}

TEST_F(CoverageTool, CellFiguresEqualThoseOfTheRawSamples)
{
    const std::string log = writeDrive(path("a.KLF"), 2, -33.9, 151.2, 0.0001, -0.0002, 120);
    ASSERT_EQ(coverage("--cell 20 -o '" + path("m.gpkg") + "' '" + log + "'").status, 0);
    std::string problem;
    const auto map = mapFigures(path("m.gpkg"), &problem);
    ASSERT_TRUE(problem.empty()) << problem;
    expectFiguresOfSamples(map, rawFigures({log}, 20));
}

// A then B on the same file equals A and B in one run, histogram for histogram.
TEST_F(CoverageTool, MergingARunLaterEqualsBinningAllAtOnce)
{
    const std::string a = writeDrive(path("a.KLF"), 3, 60.17, 24.94, 0.0001, 0.0002, 90);
    const std::string b = writeDrive(path("b.KLF"), 4, 60.171, 24.941, -0.0001, 0.0001, 90);
    ASSERT_EQ(coverage("-o '" + path("later.gpkg") + "' '" + a + "'").status, 0);
    ASSERT_EQ(coverage("-o '" + path("later.gpkg") + "' '" + b + "'").status, 0);
    ASSERT_EQ(coverage("-o '" + path("once.gpkg") + "' '" + a + "' '" + b + "'").status, 0);
    const auto later = mapFigures(path("later.gpkg"));
    const auto once = mapFigures(path("once.gpkg"));
    ASSERT_FALSE(once.empty());
    EXPECT_TRUE(later == once);
    expectFiguresOfSamples(later, rawFigures({a, b}, 50));
    int shared = 0;
    for (const auto& [id, f] : later)
        shared += f.drives == 2;
    EXPECT_GT(shared, 0) << "the drives should overlap";
}

// A new map's index is packed in one pass; a run adding many rows to a map
// packs it again over all rows, and a run adding a few sends them through
// its triggers: after each, SQLite finds the index whole, each row's entry
// is the one GDAL writes for it (that of a copy GDAL indexes itself), the
// triggers are those GDAL gives every layer, and a spatial filter finds
// the cells.
TEST_F(CoverageTool, TheSpatialIndexHoldsEveryCellAfterEachRun)
{
    const std::string m = path("m.gpkg");
    auto value = [&m](const std::string& sql) {
        const Ran r = run("ogrinfo -ro -q '" + m + "' -sql \"" + sql + "\" 2>&1");
        const size_t at = r.out.find(") = ");
        return at == std::string::npos ? r.out : r.out.substr(at + 4, r.out.find('\n', at) - at - 4);
    };
    const std::string a = writeDrive(path("a.KLF"), 12, 45.0, 7.0, 0.0005, 0.0002, 400);
    const std::string b = writeDrive(path("b.KLF"), 13, 45.1, 7.04, -0.0005, 0.0001, 400);
    const std::string c = writeDrive(path("c.KLF"), 15, 45.0, 7.0, 0.0005, 0.0002, 20);
    const std::string entries = "SELECT id, minx, maxx, miny, maxy FROM rtree_cells_geom ORDER BY id";
    for (const std::string& log : {a, b, c}) {
        ASSERT_EQ(coverage("-o '" + m + "' '" + log + "'").status, 0);
        const std::string rows = value("SELECT count(*) FROM cells");
        ASSERT_GT(std::stoi(rows), 51 * 51) << "a tree of three levels";
        EXPECT_EQ(value("SELECT rtreecheck('rtree_cells_geom')"), "ok");
        EXPECT_EQ(value("SELECT count(*) FROM rtree_cells_geom"), rows);
        EXPECT_EQ(value("SELECT count(*) FROM cells c JOIN rtree_cells_geom r ON r.id = c.fid WHERE r.minx <= ST_MinX(c.geom)"
                        " AND r.maxx >= ST_MaxX(c.geom) AND r.miny <= ST_MinY(c.geom) AND r.maxy >= ST_MaxY(c.geom)"),
                  rows);
        EXPECT_EQ(value("SELECT group_concat(substr(name, 17), ' ') FROM (SELECT name FROM sqlite_master"
                        " WHERE type = 'trigger' AND name LIKE 'rtree_cells_geom_%' ORDER BY name)"),
                  value("SELECT group_concat(substr(name, 18), ' ') FROM (SELECT name FROM sqlite_master"
                        " WHERE type = 'trigger' AND name LIKE 'rtree_routes_geom_%' ORDER BY name)"));
        const std::string copy = path("copy.gpkg");
        std::filesystem::remove(copy);
        const Ran copied = run("ogr2ogr -f GPKG -preserve_fid '" + copy + "' '" + m + "' cells 2>&1");
        ASSERT_EQ(copied.status, 0) << copied.out;
        const Ran ours = run("ogrinfo -ro -q '" + m + "' -sql '" + entries + "'");
        const Ran gdals = run("ogrinfo -ro -q '" + copy + "' -sql '" + entries + "'");
        ASSERT_EQ(ours.status, 0);
        EXPECT_TRUE(ours.out == gdals.out) << "the index's entries differ from those GDAL writes";
        const std::string near = value("SELECT count(*) FROM cells WHERE ST_MaxX(geom) >= 7.0004 AND ST_MinX(geom) <= 7.0013"
                                       " AND ST_MaxY(geom) >= 45.0007 AND ST_MinY(geom) <= 45.0021");
        ASSERT_NE(near, "0");
        const Ran filtered = run("ogrinfo -ro -so '" + m + "' cells -spat 7.0004 45.0007 7.0013 45.0021");
        EXPECT_NE(filtered.out.find("Feature Count: " + near + "\n"), std::string::npos) << filtered.out;
    }
    EXPECT_NE(value("SELECT count(*) FROM cells WHERE drives = 2"), "0") << "the drives should overlap";
}

// With the packed index switched off, GDAL's own way of filling the index
// (where GDAL from 3.8 packs a new map's index itself, and the way back
// when packing fails) gives a new map and a map packed again whole indexes.
TEST_F(CoverageTool, GdalsOwnIndexIsWholeToo)
{
    const std::string m = path("m.gpkg");
    const std::string a = writeDrive(path("a.KLF"), 31, 44.0, 8.0, 0.0005, 0.0002, 150);
    const std::string b = writeDrive(path("b.KLF"), 32, 44.05, 8.02, -0.0005, 0.0001, 150);
    for (const std::string& log : {a, b}) {
        ASSERT_EQ(run("TAVRIX_GPKG_PACKED_INDEX=NO " + tool("klf-coverage") + " -o '" + m + "' '" + log + "' 2>&1").status,
                  0);
        const Ran r = run("ogrinfo -ro -q '" + m
                          + "' -sql \"SELECT rtreecheck('rtree_cells_geom') || '/' || (SELECT count(*) FROM rtree_cells_geom)"
                            " || '/' || (SELECT count(*) FROM cells) || '/' || (SELECT count(*) FROM rtree_cells_geom_node)"
                            " AS n\" 2>&1");
        const std::regex whole("n \\(String\\) = ok/(\\d+)/(\\d+)/(\\d+)\n");
        std::smatch got;
        ASSERT_TRUE(std::regex_search(r.out, got, whole)) << r.out;
        EXPECT_EQ(got[1].str(), got[2].str());
        const int rows = std::stoi(got[2].str());
        EXPECT_GT(rows, 51) << "a tree of more than its root";
        // SQLite's inserts leave nodes part empty; a packed tree fills them.
        int packedNodes = 1;
        for (int level = rows; level > 51; level = (level + 50) / 51)
            packedNodes += (level + 50) / 51;
        EXPECT_GT(std::stoi(got[3].str()), packedNodes) << "the index was packed, not GDAL's";
    }
}

// The best layer is what a person reads in QGIS: one row per cell, the
// strongest of its receivers and frequencies (highest median, then most
// samples), with its figures and times; it and its style are there once
// after each run, a map's first and later ones.
TEST_F(CoverageTool, TheBestLayerHoldsEachCellsStrongestRowOnce)
{
    const std::string m = path("m.gpkg");
    const std::string a = writeDrive(path("a.KLF"), 21, 46.2, 6.1, 0.0002, 0.0003, 90);
    const std::string b = writeDrive(path("b.KLF"), 22, 46.2, 6.1, 0.0003, 0.0002, 90);
    for (const std::string& log : {a, b}) {
        ASSERT_EQ(coverage("-o '" + m + "' '" + log + "'").status, 0);
        const std::map<CellId, Figures> cells = mapFigures(m);
        std::map<std::pair<int, int>, CellId> want; // cell: its strongest row
        for (const auto& [id, f] : cells) {
            const auto [it, fresh] = want.try_emplace({std::get<0>(id), std::get<1>(id)}, id);
            const Figures& held = cells.at(it->second);
            if (!fresh && (f.median > held.median || (f.median == held.median && f.count > held.count)))
                it->second = id;
        }
        const Ran r = run("ogr2ogr -f CSV /vsistdout/ '" + m
                          + "' -sql 'SELECT row, col, receiver, frequency_mhz, median_dbm, count, first_time,"
                            " last_time FROM best' 2>&1");
        std::istringstream in(r.out);
        std::string line;
        std::getline(in, line);
        ASSERT_EQ(line.rfind("row,", 0), 0u) << r.out.substr(0, 500);
        size_t rows = 0;
        while (std::getline(in, line)) {
            const std::vector<std::string> f = splitCsv(line);
            ASSERT_EQ(f.size(), 8u) << line;
            ++rows;
            const Figures& strongest = cells.at(want.at({std::stoi(f[0]), std::stoi(f[1])}));
            EXPECT_EQ(std::stoi(f[4]), strongest.median) << line;
            EXPECT_EQ(std::stoll(f[5]), strongest.count) << line;
            EXPECT_FALSE(f[6].empty() || f[7].empty()) << line;
        }
        EXPECT_EQ(rows, want.size());
        EXPECT_LT(want.size(), cells.size()) << "cells should share receivers and frequencies";
        const Ran info = run("ogrinfo -ro -so '" + m + "' best 2>&1");
        EXPECT_NE(info.out.find("Geometry: Polygon"), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("Feature Count: " + std::to_string(rows) + "\n"), std::string::npos) << info.out;
        const Ran once = run("ogrinfo -ro -q '" + m
                             + "' -sql \"SELECT (SELECT count(*) FROM layer_styles WHERE f_table_name = 'best'"
                               " AND useAsDefault) || '/' || (SELECT count(*) FROM gpkg_contents WHERE table_name = 'best')"
                               " AS n\" 2>&1");
        EXPECT_NE(once.out.find("n (String) = 1/1"), std::string::npos) << once.out;
    }
}

TEST_F(CoverageTool, TheSameLogIsSkippedUnderAnyName)
{
    const std::string a = writeDrive(path("a.KLF"), 5, 45.25, 7.6, 0.0001, 0.0001, 30);
    std::filesystem::create_directory(path("copies"));
    std::filesystem::copy_file(a, path("copies/renamed.klf"));
    ASSERT_EQ(coverage("-o '" + path("m.gpkg") + "' '" + a + "'").status, 0);
    const auto before = mapFigures(path("m.gpkg"));
    const Ran again = coverage("-o '" + path("m.gpkg") + "' '" + path("copies") + "'");
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_NE(again.out.find("renamed.klf: already in the map (same SHA-256), skipped"), std::string::npos) << again.out;
    EXPECT_NE(again.out.find("0 logs added, 1 skipped"), std::string::npos) << again.out;
    EXPECT_TRUE(mapFigures(path("m.gpkg")) == before);
    const Ran drives = run("ogrinfo -ro -so '" + path("m.gpkg") + "' drives");
    EXPECT_NE(drives.out.find("Feature Count: 1\n"), std::string::npos) << drives.out;
}

// Cut inside a record: what was whole counts, the status says so.
TEST_F(CoverageTool, ACutOffLogAddsWhatIsWholeAndExitsTwo)
{
    const std::string whole = writeDrive(path("whole.KLF"), 6, 10, 10, 0.0002, 0, 40);
    std::filesystem::copy_file(whole, path("cut.KLF"));
    std::filesystem::resize_file(path("cut.KLF"), std::filesystem::file_size(whole) - 5);
    const Ran r = coverage("-o '" + path("m.gpkg") + "' '" + path("cut.KLF") + "'");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("stopped:"), std::string::npos) << r.out;
    expectFiguresOfSamples(mapFigures(path("m.gpkg")), rawFigures({path("cut.KLF")}, 50));
}

TEST_F(CoverageTool, RefusesUsageErrorsAndAnotherCellSize)
{
    const std::string a = writeDrive(path("a.KLF"), 7, 10, 10, 0.0002, 0, 10);
    ASSERT_EQ(coverage("-o '" + path("m.gpkg") + "' '" + a + "'").status, 0);
    const auto before = mapFigures(path("m.gpkg"));
    const Ran other = coverage("--cell 100 -o '" + path("m.gpkg") + "' '" + writeDrive(path("b.KLF"), 8, 10, 10, 0.0002, 0, 10) + "'");
    EXPECT_EQ(other.status, 3);
    EXPECT_NE(other.out.find("its cells are 50 m, not 100 m"), std::string::npos) << other.out;
    EXPECT_TRUE(mapFigures(path("m.gpkg")) == before);
    for (const char* args : {"--cell 5 x.KLF", "--cell 1001 x.KLF", "--receiver 3 x.KLF", "--channel 1 --frequency 851 x.KLF",
                             "--max-dop 0 x.KLF", "--range -50,-120 x.KLF", "--db mysql:x x.KLF", "-o a.gpkg --db PG:x x.KLF",
                             "", "--bogus x.KLF"})
        EXPECT_EQ(coverage(args).status, 3) << args;
    EXPECT_EQ(coverage("'" + path("missing.KLF") + "'").status, 3);
    const Ran help = coverage("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: klf-coverage"), std::string::npos);
}

// --follow follows one log into a database; what cannot be meant is
// refused with the reason, before anything is read or sent.
TEST_F(CoverageTool, FollowingRefusesWhatItCannotDo)
{
    const std::string a = writeDrive(path("a.KLF"), 9, 10, 10, 0.0002, 0, 10);
    const std::string db = " --db PG:host=/nonexistent ";
    const struct
    {
        std::string args;
        const char* why;
    } cases[] = {
        {"--follow -o '" + path("m.gpkg") + "' '" + a + "'", "not to a GeoPackage (-o)"},
        {"--follow '" + a + "'", "--follow needs --db PG:CONNINFO"},
        {"--follow" + db + "'" + a + "' '" + a + "'", "--follow follows one log"},
        {"--every 1 -o '" + path("m.gpkg") + "' '" + a + "'", "--every goes with --follow"},
        {"--follow --every 0" + db + "'" + a + "'", "--every"},
        {"--follow --every x" + db + "'" + a + "'", "--every"},
        {"--follow" + db + "'" + dir.path().toStdString() + "'", "one log, not a folder"},
        {"--follow" + db + "'" + path("missing.KLF") + "'", "cannot read"},
    };
    for (const auto& c : cases) {
        const Ran r = coverage(c.args);
        EXPECT_EQ(r.status, 3) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.why), std::string::npos) << c.args << "\n" << r.out;
    }
    EXPECT_FALSE(std::filesystem::exists(path("m.gpkg")));
    EXPECT_NE(coverage("--help").out.find("--every SECONDS"), std::string::npos);
}

// Across the antimeridian and over the top of the world: every placed
// sample lands in a cell whose polygon stays within ±180°.
TEST_F(CoverageTool, DrivesAcrossTheAntimeridianAndNearAPole)
{
    const std::string dateLine = writeDrive(path("fiji.KLF"), 9, -16.8, 179.995, 0.00001, 0.0004, 40);
    const std::string pole = writeDrive(path("pole.KLF"), 10, 89.98, 0, 0.0004, 3.0, 40);
    ASSERT_EQ(coverage("-o '" + path("m.gpkg") + "' '" + dateLine + "' '" + pole + "'").status, 0);
    expectFiguresOfSamples(mapFigures(path("m.gpkg")), rawFigures({dateLine, pole}, 50));
    const Ran extent = run("ogrinfo -ro -so '" + path("m.gpkg") + "' cells");
    const std::regex re("Extent: \\((-?[0-9.]+), (-?[0-9.]+)\\) - \\((-?[0-9.]+), (-?[0-9.]+)\\)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(extent.out, m, re)) << extent.out;
    EXPECT_GE(std::stod(m[1]), -180.0);
    EXPECT_LE(std::stod(m[3]), 180.0);
    EXPECT_LE(std::stod(m[4]), 90.0);
    EXPECT_LT(std::stod(m[1]), -179.0) << "cells west of the line";
    EXPECT_GT(std::stod(m[3]), 179.0) << "cells east of the line";
}

// A first run that fails once the map is begun, or finds nothing to map in
// damaged logs, leaves no map and no SQLite side file: nothing a later run
// or tavrix-map could take for one.
TEST_F(CoverageTool, AFailedFirstRunLeavesNoFile)
{
    const std::string a = writeDrive(path("a.KLF"), 14, 52.5, 13.4, 0.0002, 0.0003, 600);
    std::filesystem::create_directory(path("out"));
    const std::string m = path("out/m.gpkg");
    std::ofstream(path("junk.KLF")) << "not a log at all\n";
    std::ofstream(path("empty.KLF")).flush();
    // The header and a record cut short: nothing whole, no fix.
    std::filesystem::copy_file(a, path("cut.KLF"));
    std::filesystem::resize_file(path("cut.KLF"), 100);
    const struct
    {
        const char* fault;
        std::string command;
        int status;
    } cases[] = {
        // Reading at address 0 of a process's memory fails: a log that cannot be read.
        {"a log that cannot be read", tool("klf-coverage") + " -o '" + m + "' '" + a + "' /proc/self/mem 2>&1", 3},
        // 1 MB: more than the empty map, less than the log's cells; past it writes fail.
        {"a disk that refuses a write",
         "trap '' XFSZ; ulimit -f 2000; exec " + tool("klf-coverage") + " -o '" + m + "' '" + a + "' 2>&1", 3},
        {"files that are not logs",
         tool("klf-coverage") + " -o '" + m + "' '" + path("junk.KLF") + "' '" + path("empty.KLF") + "' 2>&1", 1},
        {"a log cut before its first fix", tool("klf-coverage") + " -o '" + m + "' '" + path("cut.KLF") + "' 2>&1", 2},
    };
    for (const auto& c : cases) {
        const Ran r = run(c.command);
        EXPECT_EQ(r.status, c.status) << c.fault << "\n" << r.out;
        EXPECT_EQ(namesIn(path("out")), std::vector<std::string>()) << c.fault << "\n" << r.out;
    }
    const Ran made = coverage("-o '" + m + "' '" + a + "'");
    EXPECT_EQ(made.status, 0) << made.out;
    EXPECT_EQ(namesIn(path("out")), std::vector<std::string>{"m.gpkg"});
}

// A file that is no log (no header, no record) counts as malformed, as in
// klf-export, and becomes no drive of the map: its SHA-256 would mark it
// as mapped.
TEST_F(CoverageTool, AFileThatIsNoLogIsNoDriveOfTheMap)
{
    const std::string a = writeDrive(path("a.KLF"), 19, 52.5, 13.4, 0.0002, 0.0003, 30);
    std::ofstream(path("junk.KLF")) << "not a log at all\n";
    std::ofstream(path("empty.KLF")).flush();
    const Ran r = coverage("-o '" + path("m.gpkg") + "' '" + path("junk.KLF") + "' '" + path("empty.KLF") + "' '" + a + "'");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("empty.KLF: stopped: empty file, no header; not a log, nothing added"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 logs added, 0 skipped"), std::string::npos) << r.out;
    const Ran drives = run("ogrinfo -ro -q '" + path("m.gpkg") + "' -sql \"SELECT group_concat(file_name) AS f FROM drives\"");
    EXPECT_NE(drives.out.find("f (String) = a.KLF\n"), std::string::npos) << drives.out;
}

// A map that was there keeps every cell, and every byte, through a run
// that fails after adding to it in memory.
TEST_F(CoverageTool, AFailedRunLeavesAnExistingMapAsItWas)
{
    const std::string a = writeDrive(path("a.KLF"), 15, 52.5, 13.4, 0.0002, 0.0003, 60);
    const std::string b = writeDrive(path("b.KLF"), 16, 52.51, 13.41, -0.0002, 0.0003, 600);
    std::filesystem::create_directory(path("out"));
    const std::string m = path("out/m.gpkg");
    ASSERT_EQ(coverage("-o '" + m + "' '" + a + "'").status, 0);
    const auto cells = mapFigures(m);
    ASSERT_FALSE(cells.empty());
    const std::string bytes = bytesOf(m);
    const struct
    {
        const char* fault;
        std::string command;
    } cases[] = {
        {"a log that cannot be read", tool("klf-coverage") + " -o '" + m + "' '" + b + "' /proc/self/mem 2>&1"},
        {"a disk that refuses a write",
         "trap '' XFSZ; ulimit -f 2000; exec " + tool("klf-coverage") + " -o '" + m + "' '" + b + "' 2>&1"},
        {"another cell size", tool("klf-coverage") + " --cell 100 -o '" + m + "' '" + b + "' 2>&1"},
    };
    for (const auto& c : cases) {
        const Ran r = run(c.command);
        EXPECT_EQ(r.status, 3) << c.fault << "\n" << r.out;
        EXPECT_TRUE(mapFigures(m) == cells) << c.fault;
        EXPECT_TRUE(bytesOf(m) == bytes) << c.fault;
        EXPECT_EQ(namesIn(path("out")), std::vector<std::string>{"m.gpkg"}) << c.fault;
    }
}

// Ctrl-C or TERM during a run: a new map is not made, one that was there
// is left as it was, and the tool ends by the signal, as the shell expects.
TEST_F(CoverageTool, AnInterruptedRunLeavesNoNewMapAndAnExistingOneAsItWas)
{
    const std::string a = writeDrive(path("a.KLF"), 17, 52.5, 13.4, 0.0002, 0.0003, 60);
    const std::string b = writeDrive(path("b.KLF"), 18, 52.51, 13.41, -0.0002, 0.0003, 60);
    std::filesystem::create_directory(path("out"));
    const std::string m = path("out/m.gpkg");
    {
        QProcess p;
        interruptWhileHashing({"-o", QString::fromStdString(m), QString::fromStdString(a)}, SIGINT, p);
        EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
        EXPECT_TRUE(p.readAllStandardError().contains("interrupted; " + QByteArray::fromStdString(m) + " not made"));
        EXPECT_EQ(namesIn(path("out")), std::vector<std::string>());
    }
    ASSERT_EQ(coverage("-o '" + m + "' '" + a + "'").status, 0);
    const auto cells = mapFigures(m);
    const std::string bytes = bytesOf(m);
    {
        QProcess p;
        interruptWhileHashing({"-o", QString::fromStdString(m), QString::fromStdString(b)}, SIGTERM, p);
        EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
        EXPECT_TRUE(p.readAllStandardError().contains("interrupted; " + QByteArray::fromStdString(m) + " left as it was"));
        EXPECT_TRUE(mapFigures(m) == cells);
        EXPECT_TRUE(bytesOf(m) == bytes);
        EXPECT_EQ(namesIn(path("out")), std::vector<std::string>{"m.gpkg"});
    }
}

// A device or a FIFO named as a log is refused before anything is read: the
// one never ends, the other waits for a writer. The run is bounded from
// outside, so a tool that hangs fails the test instead of holding it.
TEST_F(CoverageTool, WhatIsNotARegularFileIsRefusedAtOnce)
{
    const std::string a = writeDrive(path("a.KLF"), 60, 52.5, 13.4, 0.0002, 0.0003, 20);
    ASSERT_EQ(::mkfifo(path("fifo.KLF").c_str(), 0600), 0);
    std::filesystem::create_directory(path("out"));
    for (const std::string& odd : {std::string("/dev/zero"), path("fifo.KLF")}) {
        const Ran r = run("timeout -s KILL 120 " + tool("klf-coverage") + " -o '" + path("out/m.gpkg") + "' '" + a + "' '"
                          + odd + "' 2>&1");
        EXPECT_EQ(r.status, 3) << odd << "\n" << r.out;
        EXPECT_NE(r.out.find(odd + ": not a regular file"), std::string::npos) << r.out;
        EXPECT_EQ(namesIn(path("out")), std::vector<std::string>()) << odd;
    }
}

// What the tool says when a run goes wrong names the cause and, where
// there is one, the way out; never a doubled percent sign, GDAL's SQL, or
// two numbers that read the same.
TEST_F(CoverageTool, MessagesNameTheCauseAndTheWayOut)
{
    const std::string a = writeDrive(path("a.KLF"), 61, 52.5, 13.4, 0.0002, 0.0003, 20);
    const std::string b = writeDrive(path("b.KLF"), 62, 52.5, 13.4, 0.0002, 0.0003, 20);
    std::filesystem::create_directory(path("out"));
    const std::string m = path("out/m.gpkg");
    ASSERT_EQ(coverage("-o '" + m + "' '" + a + "'").status, 0);
    const auto before = mapFigures(m);

    const Ran close = coverage("--cell 50.0000001 -o '" + m + "' '" + b + "'");
    EXPECT_EQ(close.status, 3);
    EXPECT_NE(close.out.find("its cells are 50 m, not 50.0000001 m: choose --cell 50"), std::string::npos) << close.out;

    // A disk that refuses writes at any point while a new map is made: the
    // cause in one short line, no statement.
    for (int kilobytes : {4, 16, 40, 100}) {
        const Ran full = run("trap '' XFSZ; ulimit -f " + std::to_string(kilobytes) + "; exec " + tool("klf-coverage")
                             + " -o '" + path("out/new.gpkg") + "' '" + a + "' 2>&1");
        EXPECT_EQ(full.status, 3) << full.out;
        EXPECT_EQ(full.out.find("sqlite3_exec"), std::string::npos) << full.out;
        EXPECT_LT(full.out.size(), 300u) << full.out;
        EXPECT_EQ(namesIn(path("out")), std::vector<std::string>{"m.gpkg"});
    }

    // Another run writing to the map holds SQLite's write lock: the loser
    // says so and to run again, and the map is as the winner leaves it.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(m.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        const Ran locked = coverage("-o '" + m + "' '" + b + "'");
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        EXPECT_EQ(locked.status, 3) << locked.out;
        EXPECT_NE(locked.out.find("run again"), std::string::npos) << locked.out;
        EXPECT_TRUE(mapFigures(m) == before);
    }

    // A map that cannot be written is said to be so, not to be no GeoPackage.
    ::chmod(m.c_str(), 0444);
    ::chmod(dir.path().toUtf8().constData(), 0755);
    ::chmod(path("out").c_str(), 0755);
    // Root may write anything: the run is then made as nobody.
    const std::string as = ::geteuid() == 0 ? "runuser -u nobody -- " : "";
    const Ran readOnly = run(as + tool("klf-coverage") + " -o '" + m + "' '" + b + "' 2>&1");
    EXPECT_EQ(readOnly.status, 3);
    EXPECT_NE(readOnly.out.find("cannot write to it: Permission denied"), std::string::npos) << readOnly.out;
    EXPECT_EQ(readOnly.out.find("not a GeoPackage"), std::string::npos) << readOnly.out;
    ::chmod(m.c_str(), 0644);

    // After --, a name starting with a dash is a log.
    std::filesystem::copy_file(b, path("out/-b.KLF"));
    const Ran dashed = run("cd '" + path("out") + "' && " + tool("klf-coverage") + " -o m.gpkg -- -b.KLF 2>&1");
    EXPECT_EQ(dashed.status, 0) << dashed.out;
    EXPECT_NE(dashed.out.find("1 logs added"), std::string::npos) << dashed.out;
    EXPECT_NE(coverage("--help").out.find("--  "), std::string::npos);
}

// What the manual promises of a run with nothing to map, a drive without a
// fix, and a style range given for a map that exists.
TEST_F(CoverageTool, RunsWithNothingToMapSaySoAndMakeNoMap)
{
    std::filesystem::create_directory(path("empty"));
    std::filesystem::create_directory(path("out"));
    const Ran none = coverage("-o '" + path("out/new.gpkg") + "' '" + path("empty") + "'");
    EXPECT_EQ(none.status, 3) << none.out;
    EXPECT_NE(none.out.find("not made: no .KLF file to read"), std::string::npos) << none.out;
    EXPECT_EQ(namesIn(path("out")), std::vector<std::string>());

    DriveTestLog noFix;
    noFix.header().scanChannelList().currentFrequency(DriveTestLog::kLowEdge + 3, DriveTestLog::kLowEdge + 4);
    for (int k = 0; k < 20; ++k)
        noFix.scan({{0, 1, -80}, {1, 2, -90}});
    const std::string blind = noFix.write(path("blind.KLF"));
    const Ran unplaced = coverage("-o '" + path("out/new.gpkg") + "' '" + blind + "'");
    EXPECT_EQ(unplaced.status, 3) << unplaced.out;
    EXPECT_NE(unplaced.out.find("blind.KLF: no cell added: it holds no GPS fix"), std::string::npos) << unplaced.out;
    EXPECT_NE(unplaced.out.find("not made: no cell to map"), std::string::npos) << unplaced.out;
    EXPECT_EQ(namesIn(path("out")), std::vector<std::string>());

    const std::string m = path("out/m.gpkg");
    ASSERT_EQ(coverage("--range -110,-40 -o '" + m + "' '" + writeDrive(path("a.KLF"), 63, 1, 1, 0.0002, 0, 10) + "'").status,
              0);
    const Ran more = coverage("--range -100,-60 -o '" + m + "' '" + blind + "'");
    EXPECT_EQ(more.status, 0) << more.out;
    EXPECT_NE(more.out.find("no cell added: it holds no GPS fix"), std::string::npos) << more.out;
    EXPECT_NE(more.out.find("--range ignored: a map keeps the style it was made with"), std::string::npos) << more.out;
}

} // namespace

namespace {

// A field of the drives layer, for each drive in fid order, as ogrinfo shows it.
std::string drivesField(const std::string& map, const std::string& field)
{
    return run("ogrinfo -ro -q '" + map + "' -sql \"SELECT group_concat(" + field + ", '/') AS v FROM drives\" 2>&1").out;
}

} // namespace

// A log added, then continued by the logger into the same file (cut
// mid-record or not) and added again after each growth: one drive whose
// cells equal one run over the whole grown log, and the next run adds nothing.
TEST_F(CoverageTool, AGrownLogAddsOnlyItsNewPartToItsOneDrive)
{
    struct Case
    {
        const char* legend;
        std::vector<int> seconds; // the log's length at each run
        size_t cutInto = 0;       // bytes of the next record already written at each run
        const char* options = "";
    };
    // Every fix of these logs is within the DOP bound: the samples across
    // the point where a run stopped are binned as in one run.
    for (const Case& c : {Case{"grown twice at a record's end", {20, 40, 70}, 0},
                          Case{"left mid-record, then finished", {25, 70}, 7},
                          Case{"with a DOP bound", {33, 70}, 0, "--max-dop 99 "}}) {
        SCOPED_TRACE(c.legend);
        const std::string map = path(std::string("m-") + std::to_string(c.seconds.front()) + ".gpkg");
        const std::string a = path("grown.KLF"), b = path("other.KLF");
        std::filesystem::remove(a);
        std::vector<size_t> ends;
        const DriveTestLog log = driveLog(31, 45.0, 7.0, 0.0002, 0.0001, c.seconds.back(), &ends);
        writeDrive(b, 32, 45.0005, 7.0005, 0.0001, 0.0002, 50);
        ASSERT_EQ(coverage("-o '" + map + "' '" + b + "'").status, 0);
        size_t written = 0;
        for (size_t run = 0; run < c.seconds.size(); ++run) {
            const bool last = run + 1 == c.seconds.size();
            const size_t to = ends[size_t(c.seconds[run]) - 1] + (last ? 0 : c.cutInto);
            appendPart(a, log, written, to);
            written = to;
            const Ran r = coverage(c.options + std::string("-o '") + map + "' '" + a + "'");
            EXPECT_EQ(r.status, !last && c.cutInto ? 2 : 0) << r.out;
            if (run > 0) {
                EXPECT_NE(r.out.find("grown since it was added"), std::string::npos) << r.out;
            }
            // What the map has is one drive of the log as far as it is whole.
            std::filesystem::copy_file(a, path("whole-so-far.KLF"), std::filesystem::copy_options::overwrite_existing);
            expectFiguresOfSamples(mapFigures(map), rawFigures({b, path("whole-so-far.KLF")}, 50));
            EXPECT_NE(drivesField(map, "file_name").find("other.KLF/grown.KLF"), std::string::npos);
            const std::string read = drivesField(map, "bytes_read");
            EXPECT_NE(read.find("/" + std::to_string(to - (last ? 0 : c.cutInto))), std::string::npos) << read;
        }
        const Ran routes = run("ogrinfo -ro -so '" + map + "' routes");
        EXPECT_NE(routes.out.find("Feature Count: " + std::to_string(c.seconds.size() + 1) + "\n"), std::string::npos)
            << routes.out;
        // The same again, under another name too: nothing added.
        const auto before = mapFigures(map);
        std::filesystem::copy_file(a, path("copy.KLF"), std::filesystem::copy_options::overwrite_existing);
        for (const std::string& again : {a, path("copy.KLF")}) {
            const Ran r = coverage(c.options + std::string("-o '") + map + "' '" + again + "'");
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_NE(r.out.find("already in the map (read to its end), skipped"), std::string::npos) << r.out;
            EXPECT_TRUE(mapFigures(map) == before);
        }
        const Ran drives = run("ogrinfo -ro -so '" + map + "' drives");
        EXPECT_NE(drives.out.find("Feature Count: 2\n"), std::string::npos) << drives.out;
    }
}

// Another log under the name of one in the map (its beginning differs) is
// another drive; an older, shorter copy of a grown log adds nothing.
TEST_F(CoverageTool, ALogIsKnownByItsBeginningNotItsName)
{
    const std::string a = path("a.KLF"), map = path("m.gpkg");
    std::vector<size_t> ends;
    const DriveTestLog log = driveLog(41, 30.0, 20.0, 0.0002, 0.0002, 60, &ends);
    appendPart(a, log, 0, ends[29]);
    std::filesystem::create_directory(path("old"));
    std::filesystem::copy_file(a, path("old/a-30s.KLF"));
    appendPart(a, log, ends[29], ends[59]);
    ASSERT_EQ(coverage("-o '" + map + "' '" + a + "'").status, 0);
    const auto before = mapFigures(map);
    // Older copies: one long enough to be known by its beginning, one too
    // short but of the same name.
    ASSERT_LT(std::filesystem::file_size(path("old/a-30s.KLF")), std::filesystem::file_size(a));
    ASSERT_LT(ends[3], 4096u);
    std::filesystem::create_directory(path("older"));
    appendPart(path("older/a.KLF"), log, 0, ends[3]);
    Ran r = coverage("-o '" + map + "' '" + path("old/a-30s.KLF") + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("already in the map, which read it further"), std::string::npos) << r.out;
    r = coverage("-o '" + map + "' '" + path("older/a.KLF") + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("whether this is it in part cannot be told: not added"), std::string::npos) << r.out;
    EXPECT_TRUE(mapFigures(map) == before);

    // The same beginning, then records that were never the log's: no
    // record ends where the map stopped reading.
    std::vector<size_t> otherEnds;
    const DriveTestLog other = driveLog(43, 30.0, 20.0, 0.0002, 0.0002, 80, &otherEnds);
    std::filesystem::create_directory(path("changed"));
    appendPart(path("changed/a.KLF"), log, 0, ends[19]);
    appendPart(path("changed/a.KLF"), other, otherEnds[19], otherEnds[79]);
    r = coverage("-o '" + map + "' '" + path("changed/a.KLF") + "'");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("does not go on from where the map stopped reading it (byte " + std::to_string(ends[59])
                         + "): changed since; nothing added"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(mapFigures(map) == before);

    std::filesystem::copy_file(a, path("first-a.KLF"));
    writeDrive(a, 42, 30.0, 20.0, 0.0002, 0.0002, 60); // the same header, other records
    r = coverage("-o '" + map + "' '" + a + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("begins otherwise than the log of this name in the map: another log"), std::string::npos)
        << r.out;
    expectFiguresOfSamples(mapFigures(map), rawFigures({path("first-a.KLF"), a}, 50));
    EXPECT_NE(run("ogrinfo -ro -so '" + map + "' drives").out.find("Feature Count: 2\n"), std::string::npos);
}

// A map made before logs were known by their beginning: its logs are still
// known by their whole-file hash, a log new to it is added with the new
// fields, and a grown version of one of its logs is refused, not counted twice.
TEST_F(CoverageTool, AMapFromBeforeLogsWereKnownByTheirBeginningStillWorks)
{
    const std::string a = path("a.KLF"), b = path("b.KLF"), map = path("m.gpkg");
    std::vector<size_t> ends;
    const DriveTestLog log = driveLog(51, 50.0, 10.0, 0.0001, 0.0002, 50, &ends);
    appendPart(a, log, 0, ends[24]);
    writeDrive(b, 52, 50.0003, 10.0003, 0.0002, 0.0001, 40);
    ASSERT_EQ(coverage("-o '" + map + "' '" + a + "'").status, 0);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(map.c_str(), &db), SQLITE_OK);
        for (const char* column : {"log_id", "log_id_bytes", "bytes_read", "read_sha256"})
            EXPECT_EQ(sqlite3_exec(db, (std::string("ALTER TABLE drives DROP COLUMN ") + column).c_str(), nullptr,
                                   nullptr, nullptr),
                      SQLITE_OK)
                << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    ASSERT_EQ(run("ogrinfo -ro -so '" + map + "' drives").out.find("bytes_read:"), std::string::npos)
        << "the columns should be gone";
    Ran r = coverage("-o '" + map + "' '" + a + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("already in the map (same SHA-256), skipped"), std::string::npos) << r.out;
    appendPart(a, log, ends[24], ends[49]);
    const auto before = mapFigures(map);
    r = coverage("-o '" + map + "' '" + a + "' '" + b + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("whether this is it grown cannot be told: not added"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 logs added, 1 skipped"), std::string::npos) << r.out;
    std::filesystem::resize_file(a, ends[24]);
    expectFiguresOfSamples(mapFigures(map), rawFigures({a, b}, 50));
    EXPECT_NE(before.size(), mapFigures(map).size());
    // The new log is known by its beginning: grown, it adds its new part.
    EXPECT_NE(run("ogrinfo -ro -so '" + map + "' drives").out.find("bytes_read: Integer64"), std::string::npos);
    const std::string read = drivesField(map, "coalesce(bytes_read, 'none')");
    EXPECT_NE(read.find("none/" + std::to_string(std::filesystem::file_size(b))), std::string::npos) << read;
}
