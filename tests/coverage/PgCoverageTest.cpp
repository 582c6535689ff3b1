// klf-coverage uploading into a real PostgreSQL with PostGIS, in a cluster
// of its own for each test.
#include "PgCluster.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <chrono>
#include <filesystem>
#include <csignal>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>
#include <tuple>

using namespace CoverageTest;

namespace {

class PgCoverage : public ::testing::Test
{
protected:
    // A German locale for the server's messages, made once from Debian's
    // locale sources into a folder of the tests' own (the system may have
    // none, and is left alone); the server finds it through LOCPATH.
    static bool makeGermanLocale()
    {
        struct Locale
        {
            std::string folder;
            Locale()
            {
                char dir[] = "/tmp/tavrix-locale-XXXXXX";
                if (!::mkdtemp(dir))
                    return;
                folder = dir;
                // The server may run as another user.
                if (::chmod(dir, 0755) != 0
                    || run("localedef -i de_DE -f UTF-8 " + folder + "/de_DE.UTF-8 >/dev/null 2>&1").status != 0) {
                    std::filesystem::remove_all(folder);
                    folder.clear();
                }
            }
            ~Locale()
            {
                if (!folder.empty())
                    std::filesystem::remove_all(folder);
            }
        };
        static const Locale locale;
        if (locale.folder.empty())
            return false;
        ::setenv("LOCPATH", locale.folder.c_str(), 1);
        return true;
    }

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        germanMessages = makeGermanLocale();
        if (!germanMessages)
            std::fprintf(stderr, "no German locale could be made: the server's messages stay in English\n");
        const std::string why = cluster.start();
        if (!why.empty())
            GTEST_SKIP() << why;
        const Ran db = cluster.sql("CREATE DATABASE coverage");
        ASSERT_EQ(db.status, 0) << db.out;
    }

    std::string path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    std::string upload(const std::string& logs) const
    {
        return tool("klf-coverage") + " --db '" + cluster.gdal("coverage") + "' " + logs + " 2>&1";
    }

    // Waits for what a statement prints to satisfy done; a safety net, not a delay.
    bool waitFor(const std::string& statement, const std::function<bool(const std::string&)>& done) const
    {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (std::chrono::steady_clock::now() < limit) {
            if (done(cluster.sql(statement, "coverage").out))
                return true;
            std::this_thread::yield();
        }
        return false;
    }

    static void expectFigures(const std::map<CellId, Figures>& map, const std::map<CellId, Figures>& raw)
    {
        ASSERT_EQ(map.size(), raw.size());
        for (const auto& [id, want] : raw) {
            const auto it = map.find(id);
            ASSERT_NE(it, map.end());
            Figures got = it->second;
            EXPECT_NEAR(got.mean, want.mean, 1e-9);
            got.mean = want.mean;
            got.histogram = want.histogram;
            EXPECT_EQ(got, want) << std::get<0>(id) << "," << std::get<1>(id) << " count " << got.count << " vs "
                                 << want.count << " median " << got.median << " vs " << want.median;
        }
    }

    // The stored histograms, not only the figures, are the sums.
    void expectHistogramsHoldTheirCounts() const
    {
        EXPECT_EQ(cluster.sql("SELECT count(*) FROM cells WHERE count <> (SELECT sum(x) FROM unnest(histogram) x)"
                              " OR median_dbm <> (tavrix_hist_figures(histogram)).p50",
                              "coverage")
                      .out,
                  "0\n");
    }

    // psql's output of a statement run as user.
    Ran sqlAs(const std::string& user, const std::string& statement) const
    {
        return run("psql -X -q -At -v ON_ERROR_STOP=1 '" + cluster.conninfo("coverage") + " user=" + user + "' -c \""
                   + statement + "\" 2>&1");
    }

    // The best layer of a map (a file or PG:...) as GDAL reads it; rows
    // counts what it read, so a cell given twice shows.
    static std::map<CellId, Figures> bestFigures(const std::string& source, size_t& rows)
    {
        const Ran r = run("ogr2ogr -f CSV /vsistdout/ '" + source
                          + "' -sql 'SELECT row, col, receiver, frequency_mhz, count, min_dbm, max_dbm, p10_dbm,"
                            " median_dbm, p90_dbm, mean_dbm, drives FROM best' 2>&1");
        std::map<CellId, Figures> out;
        std::istringstream in(r.out);
        std::string line;
        std::getline(in, line);
        EXPECT_EQ(line.rfind("row,", 0), 0u) << r.out.substr(0, 500);
        rows = 0;
        while (std::getline(in, line)) {
            const std::vector<std::string> f = splitCsv(line);
            EXPECT_EQ(f.size(), 12u) << line;
            if (f.size() < 12)
                continue;
            ++rows;
            out[cellOfRow(f)] = figuresOfRow(f);
        }
        return out;
    }

    // Each cell's strongest row of cells: the highest median, then the most
    // samples, then the lowest frequency, then receiver 1. ties counts the
    // cells whose choice fell to the frequency, and to the receiver.
    static std::map<CellId, Figures> strongest(const std::map<CellId, Figures>& cells,
                                               std::pair<int, int>* ties = nullptr)
    {
        const auto rank = [](const CellId& id, const Figures& f) {
            return std::make_tuple(-f.median, -f.count, std::get<3>(id), std::get<2>(id));
        };
        std::map<std::pair<int, int>, std::vector<std::pair<CellId, Figures>>> byCell;
        for (const auto& [id, f] : cells)
            byCell[{std::get<0>(id), std::get<1>(id)}].emplace_back(id, f);
        std::map<CellId, Figures> out;
        for (auto& [cell, rows] : byCell) {
            std::sort(rows.begin(), rows.end(), [&rank](const auto& a, const auto& b) {
                return rank(a.first, a.second) < rank(b.first, b.second);
            });
            out.insert(rows.front());
            if (!ties || rows.size() < 2 || rows[1].second.median != rows[0].second.median
                || rows[1].second.count != rows[0].second.count)
                continue;
            if (std::get<3>(rows[1].first) == std::get<3>(rows[0].first))
                ++ties->second;
            else
                ++ties->first;
        }
        return out;
    }

    // The names of a layer's fields as ogrinfo lists them.
    static std::vector<std::string> fieldNames(const std::string& info)
    {
        std::vector<std::string> names;
        const std::regex field("\n([a-z_0-9]+): [A-Za-z0-9]+[ (]");
        for (auto it = std::sregex_iterator(info.begin(), info.end(), field); it != std::sregex_iterator(); ++it)
            names.push_back((*it)[1].str());
        return names;
    }

    QTemporaryDir dir;
    PgCluster cluster;
    bool germanMessages = false;
};

// Uploads in two runs, as two vehicles would: the server's sums and figures
// equal those of the raw samples, and a log sent again is skipped.
TEST_F(PgCoverage, TheServerMergesUploadsIntoTheFiguresOfAllSamples)
{
    const std::string a = writeDrive(path("a.KLF"), 21, 52.52, 13.40, 0.0002, 0.0001, 80);
    const std::string b = writeDrive(path("b.KLF"), 22, 52.5205, 13.4005, 0.0001, 0.00005, 80);
    const Ran first = run(upload("'" + a + "'"));
    ASSERT_EQ(first.status, 0) << first.out;
    const Ran second = run(upload("'" + b + "'"));
    ASSERT_EQ(second.status, 0) << second.out;
    std::string problem;
    const auto map = mapFigures(cluster.gdal("coverage"), &problem);
    ASSERT_TRUE(problem.empty()) << problem;
    expectFigures(map, rawFigures({a, b}, 50));
    EXPECT_NE(cluster.sql("SELECT count(*) FROM cells WHERE drives = 2", "coverage").out, "0\n") << "the drives should overlap";
    expectHistogramsHoldTheirCounts();

    const Ran again = run(upload("'" + a + "'"));
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.out.find("already in the map (same SHA-256), skipped"), std::string::npos) << again.out;
    EXPECT_EQ(cluster.sql("SELECT count(*) FROM drives", "coverage").out, "2\n");
    EXPECT_EQ(cluster.sql("SELECT count(*) FROM routes WHERE ST_SRID(geom) = 4326", "coverage").out, "2\n");
    EXPECT_EQ(cluster.sql("SELECT count(*) FROM layer_styles WHERE f_table_name = 'cells' AND useasdefault", "coverage").out,
              "1\n");
    const Ran info = run("ogrinfo -ro -so '" + cluster.gdal("coverage") + "' cells 2>&1");
    EXPECT_NE(info.out.find("Geometry: Polygon"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("ID[\"EPSG\",4326]"), std::string::npos) << info.out;
}

// Vehicles uploading over each other's cells at once, one of them the same
// log twice: every count arrives once.
TEST_F(PgCoverage, ConcurrentUploadsLoseNoCounts)
{
    ASSERT_EQ(run(upload("'" + writeDrive(path("seed.KLF"), 30, 0, 0, 0.0002, 0, 5) + "'")).status, 0);
    std::vector<std::string> logs;
    for (unsigned i = 0; i < 4; ++i)
        logs.push_back(writeDrive(path("v" + std::to_string(i) + ".KLF"), 31 + i, 0.0001 * i, 0.0001, 0.0002, 0.0001, 150));
    std::filesystem::copy_file(logs[0], path("copy.KLF"));
    std::vector<std::FILE*> running;
    for (const std::string& log : {logs[0], logs[1], logs[2], logs[3], path("copy.KLF")})
        running.push_back(::popen(upload("'" + log + "'").c_str(), "r"));
    std::string out;
    for (std::FILE* p : running) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0)
            out.append(chunk, n);
        const int w = ::pclose(p);
        EXPECT_TRUE(WIFEXITED(w) && WEXITSTATUS(w) == 0) << out;
    }
    logs.push_back(path("seed.KLF"));
    expectFigures(mapFigures(cluster.gdal("coverage")), rawFigures(logs, 50));
    EXPECT_EQ(cluster.sql("SELECT count(*) FROM drives", "coverage").out, "5\n");
    expectHistogramsHoldTheirCounts();
}

// An upload killed while the server holds its half-done transaction leaves
// no trace of its log. A row that the test keeps locked stops the upload
// half way, so the kill always lands inside the transaction.
TEST_F(PgCoverage, AnUploadKilledHalfWayLeavesNothing)
{
    const std::string seed = writeDrive(path("seed.KLF"), 40, 35.68, 139.69, 0.0002, 0, 20);
    ASSERT_EQ(run(upload("'" + seed + "'")).status, 0);
    const std::string a = writeDrive(path("a.KLF"), 41, 35.70, 139.70, 0.0002, 0.0002, 150);
    const auto raw = rawFigures({a}, 50);
    const CellId last = raw.rbegin()->first;
    char frequency[40];
    std::snprintf(frequency, sizeof frequency, "%.17g", std::get<3>(last));

    std::FILE* holder = ::popen((cluster.psqlCommand("coverage") + " >/dev/null 2>&1").c_str(), "w");
    ASSERT_NE(holder, nullptr);
    std::fprintf(holder, "BEGIN; INSERT INTO cells (row, col, receiver, frequency_mhz, histogram) VALUES (%d, %d, %d, %s, '{1}');\n",
                 std::get<0>(last), std::get<1>(last), std::get<2>(last), frequency);
    std::fflush(holder);
    ASSERT_TRUE(waitFor("SELECT count(*) FROM pg_locks l JOIN pg_stat_activity a USING (pid)"
                        " WHERE a.state = 'idle in transaction' AND l.locktype = 'transactionid' AND l.mode = 'ExclusiveLock'",
                        [](const std::string& out) { return out != "0\n"; }));

    {
        std::FILE* script = std::fopen(path("upload.sh").c_str(), "w");
        std::fprintf(script, "echo $$\nexec %s\n", upload("'" + a + "'").c_str());
        std::fclose(script);
    }
    std::FILE* uploader = ::popen(("sh '" + path("upload.sh") + "'").c_str(), "r");
    ASSERT_NE(uploader, nullptr);
    char pidLine[32] = {};
    ASSERT_NE(std::fgets(pidLine, sizeof pidLine, uploader), nullptr);
    const pid_t pid = pid_t(std::atol(pidLine));
    ASSERT_TRUE(waitFor("SELECT count(*) FROM pg_stat_activity WHERE application_name = 'klf-coverage'"
                        " AND wait_event_type = 'Lock'",
                        [](const std::string& out) { return out == "1\n"; }));
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ::pclose(uploader);
    std::fprintf(holder, "ROLLBACK;\n");
    ::pclose(holder);
    ASSERT_TRUE(waitFor("SELECT count(*) FROM pg_stat_activity WHERE application_name = 'klf-coverage'",
                        [](const std::string& out) { return out == "0\n"; }));

    EXPECT_EQ(cluster.sql("SELECT count(*) FROM drives", "coverage").out, "1\n");
    EXPECT_EQ(cluster.sql("SELECT count(*) FROM routes", "coverage").out, "1\n");
    expectFigures(mapFigures(cluster.gdal("coverage")), rawFigures({seed}, 50));
    // And the log goes in whole when sent again.
    ASSERT_EQ(run(upload("'" + a + "'")).status, 0);
    expectFigures(mapFigures(cluster.gdal("coverage")), rawFigures({seed, a}, 50));
}

TEST_F(PgCoverage, AnotherCellSizeIsRefused)
{
    const std::string a = writeDrive(path("a.KLF"), 50, 10, 10, 0.0002, 0, 10);
    ASSERT_EQ(run(upload("'" + a + "'")).status, 0);
    const Ran other = run(tool("klf-coverage") + " --cell 100 --db '" + cluster.gdal("coverage") + "' '"
                          + writeDrive(path("b.KLF"), 51, 10, 10, 0.0002, 0, 10) + "' 2>&1");
    EXPECT_EQ(other.status, 3);
    EXPECT_NE(other.out.find("its cells are 50 m, not 100 m"), std::string::npos) << other.out;
    EXPECT_EQ(cluster.sql("SELECT count(*) FROM drives", "coverage").out, "1\n");
}

// A drive's cells that another drive's upload also writes, as (row, col,
// receiver, MHz): the rows two uploads meet on.
std::vector<CellId> sharedCells(const std::string& a, const std::string& b)
{
    const auto first = rawFigures({a}, 50), second = rawFigures({b}, 50);
    std::vector<CellId> shared;
    for (const auto& [id, figures] : first)
        if (second.count(id))
            shared.push_back(id);
    return shared;
}

// The server speaks German and lets a transaction see only what was there
// when it began (REPEATABLE READ, as a team's administrator may set): the
// upload that waited for a row another session then changed fails with
// SQLSTATE 40001 and a German message, and is sent again, whole.
TEST_F(PgCoverage, ARetryDecidesOnTheCodeWhateverLanguageTheServerSpeaks)
{
    const std::string a = writeDrive(path("a.KLF"), 70, 48.14, 11.58, 0.0002, 0.0001, 40);
    const std::string b = writeDrive(path("b.KLF"), 71, 48.14, 11.58, 0.0002, 0.0001, 40);
    const std::vector<CellId> shared = sharedCells(a, b);
    ASSERT_FALSE(shared.empty());
    ASSERT_EQ(run(upload("'" + a + "'")).status, 0);
    ASSERT_EQ(cluster.sql("ALTER DATABASE coverage SET default_transaction_isolation = 'repeatable read'").status, 0);
    if (germanMessages) {
        ASSERT_EQ(cluster.sql("ALTER DATABASE coverage SET lc_messages = 'de_DE.UTF-8'").status, 0);
        const Ran german = cluster.sql("SELECT 1/0", "coverage");
        ASSERT_NE(german.out.find("Division durch Null"), std::string::npos) << german.out;
    }

    const CellId& cell = shared.front();
    char frequency[40];
    std::snprintf(frequency, sizeof frequency, "%.17g", std::get<3>(cell));
    std::FILE* holder = ::popen((cluster.psqlCommand("coverage") + " >/dev/null 2>&1").c_str(), "w");
    ASSERT_NE(holder, nullptr);
    std::fprintf(holder, "BEGIN; UPDATE cells SET drives = drives WHERE row = %d AND col = %d AND receiver = %d"
                         " AND frequency_mhz = %s;\n",
                 std::get<0>(cell), std::get<1>(cell), std::get<2>(cell), frequency);
    std::fflush(holder);
    ASSERT_TRUE(waitFor("SELECT count(*) FROM pg_stat_activity WHERE state = 'idle in transaction'",
                        [](const std::string& out) { return out == "1\n"; }));
    std::FILE* uploader = ::popen(upload("'" + b + "'").c_str(), "r");
    ASSERT_NE(uploader, nullptr);
    ASSERT_TRUE(waitFor("SELECT count(*) FROM pg_stat_activity WHERE application_name = 'klf-coverage'"
                        " AND wait_event_type = 'Lock'",
                        [](const std::string& out) { return out == "1\n"; }));
    std::fprintf(holder, "COMMIT;\n");
    ::pclose(holder);
    std::string out;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, uploader)) > 0)
        out.append(chunk, n);
    const int w = ::pclose(uploader);
    EXPECT_TRUE(WIFEXITED(w) && WEXITSTATUS(w) == 0) << out;
    expectFigures(mapFigures(cluster.gdal("coverage")), rawFigures({a, b}, 50));
    EXPECT_EQ(cluster.sql("SELECT count(*) FROM drives", "coverage").out, "2\n");
    expectHistogramsHoldTheirCounts();
}

// Names are bytes: one that is not UTF-8 goes in escaped, and a log the
// server refuses is passed over while the others are added.
TEST_F(PgCoverage, ANameThatIsNotUtf8IsEscapedAndARefusedLogIsPassedOver)
{
    // Not through QString, which would make the name UTF-8.
    const std::string bad = dir.path().toStdString() + "/caf\xe9.KLF";
    std::filesystem::rename(writeDrive(path("cafe.KLF"), 72, 40.41, -3.70, 0.0002, 0.0001, 20), bad);
    const std::string refused = writeDrive(path("refused.KLF"), 73, 40.42, -3.70, 0.0002, 0.0001, 20);
    const std::string good = writeDrive(path("good.KLF"), 74, 40.43, -3.70, 0.0002, 0.0001, 20);
    ASSERT_EQ(run(upload("'" + good + "'")).status, 0);
    ASSERT_EQ(cluster.sql("DELETE FROM drives; DELETE FROM cells;", "coverage").status, 0);
    ASSERT_EQ(cluster.sql("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS \\$\\$ BEGIN"
                          " IF NEW.file_name = 'refused.KLF' THEN RAISE EXCEPTION 'no room for %', NEW.file_name; END IF;"
                          " RETURN NEW; END \\$\\$;"
                          " CREATE TRIGGER refuse BEFORE INSERT ON drives FOR EACH ROW EXECUTE FUNCTION refuse();",
                          "coverage")
                  .status,
              0);
    const Ran r = run(upload("'" + bad + "' '" + refused + "' '" + good + "'"));
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find("adding " + refused + " failed: no room for refused.KLF"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2 logs added"), std::string::npos) << r.out;
    EXPECT_EQ(cluster.sql("SELECT string_agg(file_name, ' ' ORDER BY file_name) FROM drives", "coverage").out,
              "caf\\xE9.KLF good.KLF\n");
    EXPECT_EQ(cluster.sql("SELECT string_agg(file_name, ' ' ORDER BY file_name) FROM routes", "coverage").out,
              "caf\\xE9.KLF good.KLF\n");
    expectFigures(mapFigures(cluster.gdal("coverage")), rawFigures({bad, good}, 50));
    std::filesystem::remove(bad); // a name QTemporaryDir cannot spell
}

// A vehicle's user with the manual's grants uploads; without SELECT on the
// drives it cannot tell whether a log is there, and says so rather than
// take the log for a new one.
TEST_F(PgCoverage, AVehicleUserWithTheManualsGrantsUploads)
{
    const std::string a = writeDrive(path("a.KLF"), 75, 59.33, 18.06, 0.0002, 0.0001, 20);
    const std::string b = writeDrive(path("b.KLF"), 76, 59.33, 18.06, 0.0002, 0.0001, 20);
    ASSERT_EQ(run(upload("'" + a + "'")).status, 0); // the owner's first upload makes the tables
    // As in the manual's team section.
    ASSERT_EQ(cluster.sql("CREATE ROLE van3 LOGIN;"
                          " GRANT SELECT, INSERT, UPDATE ON cells, drives, routes TO van3;"
                          " GRANT SELECT ON coverage_grid, best TO van3;"
                          " GRANT USAGE ON SEQUENCE cells_fid_seq, drives_fid_seq, routes_fid_seq TO van3;",
                          "coverage")
                  .status,
              0);
    const std::string asVan = tool("klf-coverage") + " --db '" + cluster.gdal("coverage") + " user=van3' ";
    const Ran van = run(asVan + "'" + b + "' 2>&1");
    EXPECT_EQ(van.status, 0) << van.out;
    expectFigures(mapFigures(cluster.gdal("coverage")), rawFigures({a, b}, 50));
    // And reads the map as a viewer does, from its best layer.
    EXPECT_EQ(sqlAs("van3", "SELECT count(*) FROM best").out,
              cluster.sql("SELECT count(DISTINCT (row, col)) FROM cells", "coverage").out);

    ASSERT_EQ(cluster.sql("REVOKE SELECT ON drives FROM van3", "coverage").status, 0);
    const Ran blind = run(asVan + "'" + b + "' 2>&1");
    EXPECT_EQ(blind.status, 3) << blind.out;
    EXPECT_NE(blind.out.find("cannot tell whether " + b + " is in it: permission denied"), std::string::npos)
        << blind.out;
    EXPECT_EQ(cluster.sql("SELECT count(*) FROM drives", "coverage").out, "2\n");
}

// A drive whose every cell holds three rows alike (receiver 1 and 2 on
// one channel, receiver 1 on another: the same median from as many
// samples) and a weaker fourth: the choice of each cell's row falls to the
// frequency and the receiver.
std::string writeTiedDrive(const std::string& path, double lat, double lon, int seconds)
{
    DriveTestLog log;
    log.header().scanChannelList().currentFrequency(DriveTestLog::kLowEdge + 3, DriveTestLog::kLowEdge + 4);
    for (int s = 0; s < seconds; ++s) {
        log.gps(lat + 0.0002 * s, lon + 0.0001 * s, s % 60);
        log.table({{1, 5, -70}, {0, 9, -70}, {0, 5, -70}, {0, 11, -90}});
    }
    return log.write(path);
}

// The best layer of the shared map is the GeoPackage's: from the same logs,
// the same row of each cell with the same figures, ties included, the same
// fields, a polygon layer to GDAL and to PostGIS, with its own style once.
TEST_F(PgCoverage, TheBestLayerHoldsTheRowsOfTheGeoPackagesBestLayer)
{
    const std::string a = writeDrive(path("a.KLF"), 81, 46.2, 6.1, 0.0002, 0.0003, 90);
    const std::string b = writeDrive(path("b.KLF"), 82, 46.2, 6.1, 0.0003, 0.0002, 90);
    const std::string tied = writeTiedDrive(path("tied.KLF"), 46.21, 6.11, 30);
    const std::string logs = "'" + a + "' '" + b + "' '" + tied + "'";
    const Ran pg = run(upload(logs));
    ASSERT_EQ(pg.status, 0) << pg.out;
    const std::string gpkg = path("m.gpkg");
    const Ran made = run(tool("klf-coverage") + " -o '" + gpkg + "' " + logs + " 2>&1");
    ASSERT_EQ(made.status, 0) << made.out;

    std::pair<int, int> ties; // on the frequency, on the receiver
    const auto cells = mapFigures(cluster.gdal("coverage"));
    const auto want = strongest(cells, &ties);
    EXPECT_GT(ties.first, 0) << "cells whose row the frequency chooses";
    EXPECT_GT(ties.second, 0) << "cells whose row the receiver chooses";
    EXPECT_LT(want.size(), cells.size()) << "cells should share receivers and frequencies";
    size_t pgRows = 0, gpkgRows = 0;
    expectFigures(bestFigures(cluster.gdal("coverage"), pgRows), want);
    expectFigures(bestFigures(gpkg, gpkgRows), want);
    EXPECT_EQ(pgRows, want.size());
    EXPECT_EQ(gpkgRows, want.size());

    const Ran info = run("ogrinfo -ro -so '" + cluster.gdal("coverage") + "' best 2>&1");
    EXPECT_NE(info.out.find("Geometry: Polygon"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("ID[\"EPSG\",4326]"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Feature Count: " + std::to_string(want.size()) + "\n"), std::string::npos) << info.out;
    const std::vector<std::string> fields = fieldNames(info.out);
    EXPECT_EQ(fields, fieldNames(run("ogrinfo -ro -so '" + gpkg + "' best 2>&1").out));
    EXPECT_EQ(fields.size(), 14u) << info.out;
    const Ran layers = run("ogrinfo -ro -q '" + cluster.gdal("coverage") + "' 2>&1");
    EXPECT_NE(layers.out.find(": best (Polygon)"), std::string::npos) << layers.out;
    EXPECT_EQ(cluster.sql("SELECT type, srid FROM geometry_columns WHERE f_table_name = 'best'", "coverage").out,
              "POLYGON|4326\n");

    // Once, after a later upload too.
    ASSERT_EQ(run(upload("'" + writeDrive(path("c.KLF"), 83, 46.2, 6.1, 0.0001, 0.0001, 20) + "'")).status, 0);
    EXPECT_EQ(cluster.sql("SELECT stylename, xpath_exists('//renderer-v2[@attr=''median_dbm'']', styleqml)"
                          " FROM layer_styles WHERE f_table_name = 'best' AND useasdefault",
                          "coverage")
                  .out,
              "Strongest median RSSI|t\n");
}

// A map made before the best layer: a vehicle's user, who may not make it,
// uploads as before; an upload by the owner that cannot make it (here the
// schema refuses the owner new objects) still adds its log; the owner's
// next upload makes it, with its style, and a viewer granted it reads it.
TEST_F(PgCoverage, AnOldMapGetsTheBestLayerAtItsOwnersNextUpload)
{
    ASSERT_EQ(cluster.sql("CREATE EXTENSION postgis; CREATE ROLE mapadmin LOGIN;"
                          " GRANT CREATE ON SCHEMA public TO mapadmin; CREATE ROLE van3 LOGIN;",
                          "coverage")
                  .status,
              0);
    std::vector<std::string> logs;
    for (unsigned i = 0; i < 4; ++i)
        logs.push_back(writeDrive(path("v" + std::to_string(i) + ".KLF"), 90 + i, 64.14, -21.9, 0.0002, 0.0001 * i, 40));
    const auto uploadAs = [this](const std::string& user, const std::string& log) {
        return run(tool("klf-coverage") + " --db '" + cluster.gdal("coverage") + " user=" + user + "' '" + log + "' 2>&1");
    };
    const Ran first = uploadAs("mapadmin", logs[0]);
    ASSERT_EQ(first.status, 0) << first.out;
    // What a map made before the view holds, and the grants of then.
    ASSERT_EQ(cluster.sql("DROP VIEW best; DELETE FROM layer_styles WHERE f_table_name = 'best';"
                          " GRANT SELECT, INSERT, UPDATE ON cells, drives, routes TO van3;"
                          " GRANT SELECT ON coverage_grid TO van3;"
                          " GRANT USAGE ON SEQUENCE cells_fid_seq, drives_fid_seq, routes_fid_seq TO van3;",
                          "coverage")
                  .status,
              0);
    const char* missing =
        "SELECT to_regclass('best') IS NULL, (SELECT count(*) FROM layer_styles WHERE f_table_name = 'best')";

    const Ran van = uploadAs("van3", logs[1]);
    EXPECT_EQ(van.status, 0) << van.out;
    EXPECT_EQ(cluster.sql(missing, "coverage").out, "t|0\n");

    ASSERT_EQ(cluster.sql("REVOKE CREATE ON SCHEMA public FROM mapadmin", "coverage").status, 0);
    const Ran refused = uploadAs("mapadmin", logs[2]);
    EXPECT_EQ(refused.status, 0) << refused.out;
    EXPECT_EQ(cluster.sql(missing, "coverage").out, "t|0\n");
    EXPECT_EQ(cluster.sql("SELECT count(*) FROM drives", "coverage").out, "3\n");

    ASSERT_EQ(cluster.sql("GRANT CREATE ON SCHEMA public TO mapadmin", "coverage").status, 0);
    const Ran owner = uploadAs("mapadmin", logs[3]);
    EXPECT_EQ(owner.status, 0) << owner.out;
    EXPECT_EQ(cluster.sql(missing, "coverage").out, "f|1\n");
    EXPECT_EQ(cluster.sql("SELECT viewowner FROM pg_views WHERE viewname = 'best'", "coverage").out, "mapadmin\n");
    expectFigures(mapFigures(cluster.gdal("coverage")), rawFigures(logs, 50));
    size_t rows = 0;
    const auto want = strongest(mapFigures(cluster.gdal("coverage")));
    expectFigures(bestFigures(cluster.gdal("coverage"), rows), want);
    EXPECT_EQ(rows, want.size());

    // The vehicle, given the view as the manual now says, still uploads, and reads it.
    ASSERT_EQ(cluster.sql("GRANT SELECT ON best TO van3", "coverage").status, 0);
    const Ran again = uploadAs("van3", writeDrive(path("v4.KLF"), 94, 64.14, -21.9, 0.0001, 0.0002, 40));
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_EQ(sqlAs("van3", "SELECT count(*) FROM best").out,
              cluster.sql("SELECT count(DISTINCT (row, col)) FROM cells", "coverage").out);
}

// klf-report reads the shared map as it reads a GeoPackage of the same logs.
TEST_F(PgCoverage, AnAcceptanceReportOfTheDatabaseEqualsOneOfAGeoPackage)
{
    const std::string a = writeDrive(path("a.KLF"), 21, 52.2, 0.12, 0.00002, 0.00001, 600);
    ASSERT_EQ(run(upload(a)).status, 0);
    const Ran gpkg = run(tool("klf-coverage") + " -o " + path("m.gpkg") + " " + a + " 2>&1");
    ASSERT_EQ(gpkg.status, 0) << gpkg.out;
    for (const std::string& source : {cluster.gdal("coverage"), path("m.gpkg")}) {
        const std::string json = path(source[0] == 'P' ? "pg.json" : "gpkg.json");
        const Ran r = run(tool("klf-report") + " --threshold -85 --tile 100 --json " + json + " '" + source + "' 2>&1");
        ASSERT_EQ(r.status, 0) << r.out;
    }
    const auto read = [](const std::string& file) {
        std::ifstream in(file);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return text.substr(text.find("\"sections\""));
    };
    EXPECT_EQ(read(path("pg.json")), read(path("gpkg.json")));
    EXPECT_NE(read(path("pg.json")).find("tiles_tested"), std::string::npos);
}

} // namespace

// A log uploaded, continued by the logger into the same file and uploaded
// again, twice at once: one drive whose cells equal one upload of the whole
// grown log; again, nothing; a log of the same name that begins otherwise
// is another drive.
TEST_F(PgCoverage, AGrownLogAddsOnlyItsNewPartToItsOneDrive)
{
    const std::string a = path("a.KLF"), b = writeDrive(path("b.KLF"), 62, 48.1002, 11.5002, 0.0001, 0.0002, 60);
    std::vector<size_t> ends;
    const DriveTestLog log = driveLog(61, 48.1, 11.5, 0.0002, 0.0001, 90, &ends);
    appendPart(a, log, 0, ends[29]);
    ASSERT_EQ(run(upload("'" + a + "' '" + b + "'")).status, 0);
    appendPart(a, log, ends[29], ends[89]);
    std::vector<std::FILE*> running;
    for (int i = 0; i < 2; ++i)
        running.push_back(::popen(upload("'" + a + "'").c_str(), "r"));
    std::string out;
    for (std::FILE* p : running) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0)
            out.append(chunk, n);
        const int w = ::pclose(p);
        EXPECT_TRUE(WIFEXITED(w) && WEXITSTATUS(w) == 0) << out;
    }
    EXPECT_NE(out.find("grown since it was added"), std::string::npos) << out;
    expectFigures(mapFigures(cluster.gdal("coverage")), rawFigures({a, b}, 50));
    expectHistogramsHoldTheirCounts();
    EXPECT_EQ(cluster.sql("SELECT count(*), sum(bytes_read) FROM drives", "coverage").out,
              "2|" + std::to_string(ends[89] + std::filesystem::file_size(b)) + "\n");
    EXPECT_EQ(cluster.sql("SELECT count(*) FROM routes", "coverage").out, "3\n");

    const Ran again = run(upload("'" + a + "'"));
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_NE(again.out.find("already in the map (read to its end), skipped"), std::string::npos) << again.out;

    std::filesystem::copy_file(a, path("first-a.KLF"));
    writeDrive(a, 63, 48.1, 11.5, 0.0002, 0.0001, 40);
    const Ran other = run(upload("'" + a + "'"));
    EXPECT_EQ(other.status, 0) << other.out;
    EXPECT_NE(other.out.find("begins otherwise than the log of this name in the map: another log"), std::string::npos)
        << other.out;
    expectFigures(mapFigures(cluster.gdal("coverage")), rawFigures({path("first-a.KLF"), b, a}, 50));
    EXPECT_EQ(cluster.sql("SELECT count(*) FROM drives", "coverage").out, "3\n");
}

// A map made before logs were known by their beginning: the columns are
// added, its logs are still known by their whole-file hash, and a grown
// version of one is refused rather than counted twice.
TEST_F(PgCoverage, AMapFromBeforeLogsWereKnownByTheirBeginningStillWorks)
{
    const std::string a = path("a.KLF"), b = writeDrive(path("b.KLF"), 72, -33.8702, 151.2102, 0.0001, 0.0002, 40);
    std::vector<size_t> ends;
    const DriveTestLog log = driveLog(71, -33.87, 151.21, 0.0002, 0.0001, 60, &ends);
    appendPart(a, log, 0, ends[29]);
    ASSERT_EQ(run(upload("'" + a + "'")).status, 0);
    const Ran dropped = cluster.sql("DROP INDEX drives_log_id_idx; ALTER TABLE drives DROP COLUMN log_id,"
                                    " DROP COLUMN log_id_bytes, DROP COLUMN bytes_read, DROP COLUMN read_sha256",
                                    "coverage");
    ASSERT_EQ(dropped.status, 0) << dropped.out;
    appendPart(a, log, ends[29], ends[59]);
    const Ran r = run(upload("'" + a + "' '" + b + "'"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("whether this is it grown cannot be told: not added"), std::string::npos) << r.out;
    std::filesystem::resize_file(a, ends[29]);
    expectFigures(mapFigures(cluster.gdal("coverage")), rawFigures({a, b}, 50));
    EXPECT_EQ(cluster.sql("SELECT count(*), count(log_id), sum(bytes_read) FROM drives", "coverage").out,
              "2|1|" + std::to_string(std::filesystem::file_size(b)) + "\n");
    const Ran same = run(upload("'" + a + "'"));
    EXPECT_NE(same.out.find("already in the map (same SHA-256), skipped"), std::string::npos) << same.out;
}
