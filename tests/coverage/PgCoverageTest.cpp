// klf-coverage uploading into a real PostgreSQL with PostGIS, in a cluster
// of its own for each test.
#include "PgCluster.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <thread>

using namespace CoverageTest;

namespace {

class PgCoverage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
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

    QTemporaryDir dir;
    PgCluster cluster;
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

} // namespace
