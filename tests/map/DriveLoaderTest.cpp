#include "drive/DriveTestLog.h"
#include "map/DriveLoader.h"
#include "map/EventWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Three fixes with a table report between each two: R1 channels 5 and 10,
// R2 channel 5. Padding entries repeat the last and are no samples.
QString writeDrive(const QTemporaryDir& dir)
{
    DriveTestLog log;
    log.header(0x03)
        .gps(40.0, -74.0, 0)
        .table({{0, 4, -90}, {0, 9, -60}, {1, 4, -70}})
        .gps(40.2, -73.5, 4)
        .table({{0, 4, -100}, {0, 9, -110}})
        .gps(40.4, -73.0, 8)
        .table({{0, 4, -50}}); // after the last fix: not placed
    return QString::fromStdString(log.write(dir.filePath(QStringLiteral("drive.KLF")).toStdString()));
}

std::vector<int> rssis(const PointLayer& layer)
{
    std::vector<int> out;
    for (std::size_t i = 0; i < layer.size(); ++i)
        out.push_back(layer.point(i).rssi);
    return out;
}

TEST(DriveLoader, DrawsTheStrongestValueBetweenTwoFixesForTheChosenReceiver)
{
    QTemporaryDir dir;
    const QString path = writeDrive(dir);
    const RssiPalette palette(-120, -50);

    DriveLoader::Result r1 = DriveLoader::load(path, {0, std::nullopt}, palette);
    EXPECT_TRUE(r1.summary.whole()) << r1.summary.error;
    EXPECT_EQ(rssis(r1.layer), (std::vector<int>{-60, -100}));
    EXPECT_EQ(r1.layer.point(0).colour, palette.argb(-60));
    EXPECT_EQ(r1.layer.point(0).receiver, 0);
    EXPECT_EQ(r1.layer.point(0).channel, 10);
    EXPECT_NEAR(r1.layer.point(0).latitude, 40.1, 1e-6) << "where the strongest was taken";
    ASSERT_EQ(r1.measures.size(), 2u);
    EXPECT_EQ(r1.measures[0].channel, 5);
    EXPECT_EQ(r1.measures[1].channel, 10);

    DriveLoader::Result r2 = DriveLoader::load(path, {1, std::nullopt}, palette);
    EXPECT_EQ(rssis(r2.layer), (std::vector<int>{-70}));
    EXPECT_EQ(r2.layer.point(0).receiver, 1);
}

TEST(DriveLoader, OneChannelGivesEverySampleOfThatChannel)
{
    QTemporaryDir dir;
    const QString path = writeDrive(dir);
    DriveLoader::Result r = DriveLoader::load(path, {0, DriveLoader::Measure{5, 0}}, RssiPalette());
    EXPECT_EQ(rssis(r.layer), (std::vector<int>{-90, -100}));
    EXPECT_NEAR(r.layer.point(0).frequencyMHz, 851.0 + 4 * 0.025, 1e-9);
    r = DriveLoader::load(path, {0, DriveLoader::Measure{7, 0}}, RssiPalette());
    EXPECT_TRUE(r.layer.empty());
}

TEST(DriveLoader, ReadsOnAWorkerAndReportsProgressToTheEnd)
{
    QTemporaryDir dir;
    const QString path = writeDrive(dir);
    DriveLoader loader;
    bool finished = false;
    QObject::connect(&loader, &DriveLoader::finished, [&] { finished = true; });
    loader.start(path, {0, std::nullopt}, RssiPalette());
    QElapsedTimer clock;
    clock.start();
    while (!finished && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_TRUE(finished);
    EXPECT_DOUBLE_EQ(loader.progress(), 1.0);
    DriveLoader::Result r = loader.takeResult();
    EXPECT_FALSE(r.cancelled);
    EXPECT_EQ(r.layer.size(), 2u);
}

TEST(DriveLoader, ANewChoiceReplacesAReadStillRunningAndOnlyItsResultArrives)
{
    QTemporaryDir dir;
    const QString path = writeDrive(dir);
    DriveLoader loader;
    int finished = 0;
    QObject::connect(&loader, &DriveLoader::finished, [&] { ++finished; });
    loader.start(path, {0, std::nullopt}, RssiPalette());
    loader.start(path, {1, std::nullopt}, RssiPalette());
    QElapsedTimer clock;
    clock.start();
    while (finished == 0 && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_EQ(finished, 1);
    const DriveLoader::Result r = loader.takeResult();
    ASSERT_EQ(r.layer.size(), 1u);
    EXPECT_EQ(r.layer.point(0).receiver, 1) << "the second choice's drive";
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(finished, 1) << "the replaced read announced nothing";
}

TEST(DriveLoader, AMissingOrCutLogIsReportedNotDrawnAsWhole)
{
    QTemporaryDir dir;
    DriveLoader::Result r = DriveLoader::load(dir.filePath(QStringLiteral("none.KLF")), {}, RssiPalette());
    EXPECT_FALSE(r.summary.whole());
    EXPECT_TRUE(r.layer.empty());

    QFile f(writeDrive(dir));
    ASSERT_TRUE(f.resize(f.size() - 3));
    r = DriveLoader::load(f.fileName(), {}, RssiPalette());
    EXPECT_FALSE(r.summary.whole());
    EXPECT_EQ(rssis(r.layer), (std::vector<int>{-60, -100})) << "what was whole is still drawn";
}

// Many fixes, each with a report: a read that lasts long enough to be cut short.
QString writeLongDrive(const QTemporaryDir& dir)
{
    DriveTestLog log;
    log.header(0x03);
    for (int i = 0; i < 60000; ++i)
        log.gps(40.0 + i * 1e-5, -74.0, 0).table({{0, i % 10, -80}});
    return QString::fromStdString(log.write(dir.filePath(QStringLiteral("long.KLF")).toStdString()));
}

// Progress comes as signals, rising to the end before `finished`; a read
// cancelled ends as cancelled, and a loader destroyed mid-read waits for it.
TEST(DriveLoader, ProgressIsSignalledAndACancelledReadEndsAsCancelled)
{
    QTemporaryDir dir;
    const QString path = writeLongDrive(dir);
    std::vector<double> said;
    int finished = 0;
    {
        DriveLoader loader;
        QObject::connect(&loader, &DriveLoader::progressChanged, [&](double done) { said.push_back(done); });
        QObject::connect(&loader, &DriveLoader::finished, [&] { ++finished; });
        loader.start(path, {0, std::nullopt}, RssiPalette());
        ASSERT_TRUE(until([&] { return finished == 1; }));
        EXPECT_FALSE(loader.takeResult().cancelled);
        ASSERT_FALSE(said.empty());
        EXPECT_TRUE(std::is_sorted(said.begin(), said.end()));
        EXPECT_DOUBLE_EQ(said.back(), 1.0);

        loader.start(path, {0, std::nullopt}, RssiPalette());
        loader.cancel();
        ASSERT_TRUE(until([&] { return finished == 2; }));
        const DriveLoader::Result r = loader.takeResult();
        EXPECT_TRUE(r.cancelled);
        EXPECT_TRUE(r.layer.empty());
        EXPECT_FALSE(loader.running());

        loader.start(path, {0, std::nullopt}, RssiPalette());
    }
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(finished, 2) << "a loader gone says nothing";
}

} // namespace
