// The pure logic under following a log on the map: an acceptance test's
// readings gathered piece by piece, and the nearest tile not yet driven.
#include "map/FollowTestDrive.h"

#include "coverage/AcceptanceProgress.h"
#include "coverage/AcceptanceSource.h"
#include "coverage/AcceptanceTiler.h"
#include "coverage/NearestUndriven.h"
#include "drive/DriveFollower.h"
#include "drive/DriveReader.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <string>

namespace {

void appendFile(const std::string& path, const uint8_t* bytes, size_t count)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes, count), ssize_t(count));
    ::close(fd);
}

void expectSameInput(const AcceptanceInput& got, const AcceptanceInput& want)
{
    ASSERT_EQ(got.channels.size(), want.channels.size());
    for (const auto& [key, w] : want.channels) {
        SCOPED_TRACE("receiver " + std::to_string(key.first) + " frequency " + std::to_string(key.second));
        const auto it = got.channels.find(key);
        ASSERT_NE(it, got.channels.end());
        const AcceptanceInput::Channel& g = it->second;
        EXPECT_EQ(g.channel, w.channel);
        ASSERT_EQ(g.tiles.size(), w.tiles.size());
        for (const auto& [tile, wt] : w.tiles) {
            const auto t = g.tiles.find(tile);
            ASSERT_NE(t, g.tiles.end()) << tile;
            EXPECT_TRUE(t->second.histogram == wt.histogram) << tile;
            EXPECT_EQ(t->second.localMeans, wt.localMeans) << tile;
        }
    }
}

// What klf-report gathers from the whole file.
AcceptanceInput reportInput(const std::string& path, double tileMetres)
{
    AcceptanceSource source(tileMetres, {}, false);
    DriveSummary summary;
    std::string error;
    EXPECT_TRUE(source.addLog(path, summary, error)) << error;
    return source.input();
}

} // namespace

// The log as the logger leaves it at any moment (cut between records, in
// the header, in a GPS message, in a table report), followed and committed
// after each piece: what the pieces add up to is what the report gathers
// from the whole file, and every reading a piece added is in a tile it said
// it touched.
TEST(AcceptanceProgress, FedInAnyPiecesItEqualsTheReportsReadOfTheWholeLog)
{
    QTemporaryDir dir;
    const DriveTestLog log = followtest::drive(40);
    const std::string whole = log.write(dir.filePath(QStringLiteral("whole.KLF")).toStdString());
    const AcceptanceInput want = reportInput(whole, 100);
    ASSERT_GE(want.channels.size(), 3u);
    ASSERT_GE(want.channels.begin()->second.tiles.size(), 4u) << "a drive across several tiles";

    // Piece sizes that cut records everywhere: single bytes at the start,
    // then sizes prime to every record length.
    struct Case { const char* name; std::vector<size_t> pieces; };
    const Case cases[] = {
        {"one piece", {log.bytes.size()}},
        {"byte by byte through the header and first records", {1}},
        {"7 bytes", {7}},
        {"161 bytes", {161}},
        {"a GPS message and a half", {230}},
        {"growing pieces", {3, 50, 1, 400, 77, 1000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.filePath(QString::fromLatin1(c.name).replace(' ', '_') + QStringLiteral(".KLF")).toStdString();
        AcceptanceProgress progress(100);
        DriveFollower follower(path, progress);
        appendFile(path, log.bytes.data(), 0);
        ASSERT_TRUE(follower.open());
        size_t at = 0, piece = 0, commits = 0;
        AcceptanceInput previous;
        while (at < log.bytes.size()) {
            // Byte by byte only while it shows something: past 600 bytes, pieces of 97.
            size_t n = c.pieces[std::min(piece++, c.pieces.size() - 1)];
            if (c.pieces.size() == 1 && n == 1 && at > 600)
                n = 97;
            n = std::min(n, log.bytes.size() - at);
            appendFile(path, log.bytes.data() + at, n);
            at += n;
            follower.update();
            const auto touched = progress.commit();
            ++commits;
            // The tiles said touched are exactly those whose readings changed.
            for (const auto& [key, ch] : progress.input().channels)
                for (const auto& [tile, t] : ch.tiles) {
                    const auto pc = previous.channels.find(key);
                    const bool before = pc != previous.channels.end() && pc->second.tiles.count(tile);
                    const bool changed = !before || !(pc->second.tiles.at(tile).histogram == t.histogram);
                    const bool said = std::find(touched.begin(), touched.end(),
                                                AcceptanceProgress::Touched{key.first, key.second, tile}) != touched.end();
                    EXPECT_EQ(changed, said) << "tile " << tile << " after " << at << " bytes";
                }
            previous = progress.input();
        }
        EXPECT_EQ(commits > 1, c.pieces.front() < log.bytes.size());
        // Not finished: the samples after the last fix are the report's unplaced ones.
        expectSameInput(progress.input(), want);
        EXPECT_EQ(progress.drive().fixesUsed, 40u);
        ASSERT_TRUE(progress.lastFix());
        EXPECT_NEAR(progress.lastFix()->latitude, followtest::kStartLatitude + 39 * followtest::kDegreesPerSecond, 1e-6);
    }
}

// The figures a tiler draws from the pieces are the report's, tile for tile.
TEST(AcceptanceProgress, TheFiguresOfTheGatheredReadingsAreTheReports)
{
    QTemporaryDir dir;
    const DriveTestLog log = followtest::drive(60);
    const std::string path = log.write(dir.filePath(QStringLiteral("d.KLF")).toStdString());
    AcceptanceProgress progress(100);
    struct Every : DriveSink
    {
        AcceptanceProgress& to;
        explicit Every(AcceptanceProgress& p) : to(p) {}
        void fix(const DriveFix& f) override
        {
            to.fix(f);
            to.commit();
        }
        void sample(const DriveSample& s) override
        {
            to.sample(s);
            if (s.record % 3 == 0)
                to.commit();
        }
    } every(progress);
    DriveReader reader;
    reader.read(path, every);
    progress.commit();

    AcceptanceTiler::Settings settings;
    settings.minSamples = 20;
    const AcceptanceTiler tiler(settings, nullptr);
    const AcceptanceInput want = reportInput(path, 100);
    uint64_t passed = 0, failed = 0;
    for (const auto& [key, channel] : want.channels) {
        const AcceptanceSection a = tiler.section(progress.input().channels.at(key));
        const AcceptanceSection b = tiler.section(channel);
        EXPECT_EQ(a.figures.tilesTested, b.figures.tilesTested);
        EXPECT_EQ(a.figures.tilesPassed, b.figures.tilesPassed);
        EXPECT_EQ(a.figures.reliability, b.figures.reliability);
        EXPECT_EQ(a.figures.lowerBound, b.figures.lowerBound);
        EXPECT_EQ(a.figures.upperBound, b.figures.upperBound);
        EXPECT_EQ(a.figures.verdict, b.figures.verdict);
        EXPECT_EQ(a.figures.tilesNeeded, b.figures.tilesNeeded);
        ASSERT_EQ(a.tiles.size(), b.tiles.size());
        for (size_t i = 0; i < a.tiles.size(); ++i)
            EXPECT_EQ(a.tiles[i].state, b.tiles[i].state);
        passed += b.figures.tilesPassed;
        failed += b.figures.tilesTested - b.figures.tilesPassed;
    }
    EXPECT_GT(passed, 0u);
    EXPECT_GT(failed, 0u) << "the drive's end fails";
}

namespace {

AcceptanceTile tileAt(int64_t key, double latitude, double longitude, AcceptanceTile::State state)
{
    AcceptanceTile t;
    t.key = key;
    t.latitude = latitude;
    t.longitude = longitude;
    t.state = state;
    return t;
}

} // namespace

// Distances and bearings worked out by hand: a degree of a great circle is
// R·π/180 = 111 195.08 m on a sphere of 6 371 008.8 m; along the 60th
// parallel a degree of longitude is half that (55 597.54 m), and the great
// circle between its ends a little shorter and leaving a little north of east.
TEST(NearestUndriven, DistanceAndDirectionWorkedOutByHand)
{
    using S = AcceptanceTile::State;
    struct Case
    {
        const char* legend;
        double fromLatitude, fromLongitude;
        double toLatitude, toLongitude;
        double metres, tolerance;
        const char* compass;
    };
    const Case cases[] = {
        {"a degree north", 0, 0, 1, 0, 111195.08, 0.01, "N"},
        {"a degree east", 0, 0, 0, 1, 111195.08, 0.01, "E"},
        {"a degree south", 10, 20, 9, 20, 111195.08, 0.01, "S"},
        {"a degree west", 0, 0, 0, -1, 111195.08, 0.01, "W"},
        {"a degree south and west: under √2 degrees", 0, 0, -1, -1, 157249.6, 0.1, "SW"},
        {"north-east", 0, 0, 1, 1, 157249.6, 0.1, "NE"},
        {"along the 60th parallel", 60, 0, 60, 1, 55597.0, 0.5, "E"},
        {"across the antimeridian, the short way", 0, 179.9, 0, -179.9, 22239.02, 0.01, "E"},
        {"100 m north of Cambridge", 52.2, 0.1, 52.2009, 0.1, 100.08, 0.01, "N"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::vector<AcceptanceTile> tiles{tileAt(1, c.toLatitude, c.toLongitude, S::NotDriven)};
        const auto a = NearestUndriven::find(tiles, c.fromLatitude, c.fromLongitude);
        ASSERT_TRUE(a);
        EXPECT_NEAR(a->metres, c.metres, c.tolerance);
        EXPECT_EQ(a->compass, c.compass);
        EXPECT_EQ(a->key, 1);
    }
    const auto parallel = NearestUndriven::bearingDegrees(60, 0, 60, 1);
    EXPECT_LT(parallel, 90.0);
    EXPECT_GT(parallel, 89.0);
    EXPECT_LT(NearestUndriven::metres(60, 0, 60, 1), 55597.54);
}

TEST(NearestUndriven, CompassPointsMeetHalfWayBetweenDirections)
{
    struct Case { double bearing; const char* point; };
    const Case cases[] = {{0, "N"},      {22.49, "N"},  {22.5, "NE"}, {67.49, "NE"}, {67.5, "E"},
                          {135, "SE"},   {180, "S"},    {202.5, "SW"}, {270, "W"},   {292.5, "NW"},
                          {337.49, "NW"}, {337.5, "N"}, {359.99, "N"}, {360, "N"},   {-45, "NW"}};
    for (const Case& c : cases)
        EXPECT_STREQ(NearestUndriven::compass(c.bearing), c.point) << c.bearing;
}

// Only tiles without a sample are sought: a driven tile too thin to test,
// nearer, is not; with every tile driven there is no answer.
TEST(NearestUndriven, OnlyTilesWithoutASampleAreSought)
{
    using S = AcceptanceTile::State;
    std::vector<AcceptanceTile> tiles{
        tileAt(1, 0.001, 0, S::Passed),   tileAt(2, 0, 0.001, S::Untested), tileAt(3, -0.001, 0, S::Failed),
        tileAt(4, 0, -0.01, S::NotDriven), tileAt(5, 0.02, 0, S::NotDriven),
    };
    auto a = NearestUndriven::find(tiles, 0, 0);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->key, 4);
    EXPECT_EQ(a->compass, "W");
    EXPECT_NEAR(a->metres, 1111.95, 0.01);

    // Two at the same distance: the lower key, whatever the order.
    tiles.push_back(tileAt(0, 0.01, 0, S::NotDriven));
    a = NearestUndriven::find(tiles, 0, 0);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->key, 0);
    std::reverse(tiles.begin(), tiles.end());
    EXPECT_EQ(NearestUndriven::find(tiles, 0, 0)->key, 0);

    for (AcceptanceTile& t : tiles)
        if (t.state == S::NotDriven)
            t.state = S::Untested;
    EXPECT_FALSE(NearestUndriven::find(tiles, 0, 0));
    EXPECT_FALSE(NearestUndriven::find({}, 0, 0));
}
