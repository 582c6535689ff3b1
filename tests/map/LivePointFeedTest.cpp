// The live feed against blocks written by the logger's own writer, under
// names of their own so tests may run beside a logger.
#include "gps/MapBlock.h"
#include "gps/MapExport.h"
#include "gps/MapTestSupport.h"
#include "protocol/TGPS.h"
#include "map/EventWait.h"
#include "map/LivePointFeed.h"
#include "map/TestBlock.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

namespace {

struct Received
{
    std::vector<LivePointFeed::Point> points;
    explicit Received(LivePointFeed& feed)
    {
        QObject::connect(&feed, &LivePointFeed::pointArrived, &feed,
                         [this](const LivePointFeed::Point& p) { points.push_back(p); });
    }
};

TEST(LivePointFeed, ReadsEachNewPointOnceWithItsPaletteColour)
{
    const std::string name = uniqueBlockName("feed");
    LivePointFeed feed(QString::fromStdString(name));
    Received got(feed);
    feed.start(/*forcePoll=*/true);
    EXPECT_TRUE(feed.polling());
    feed.check();
    EXPECT_TRUE(got.points.empty()) << "no block yet is normal";

    TestBlock block(name);
    feed.check();
    EXPECT_TRUE(got.points.empty()) << "a block never written holds no point";

    block.write(40.5471, -74.3803, -50);
    ASSERT_TRUE(until([&] { return got.points.size() == 1; })) << "found by the 200 ms poll";
    const LivePointFeed::Point& p = got.points[0];
    EXPECT_DOUBLE_EQ(p.point.latitude, 40.5471);
    EXPECT_DOUBLE_EQ(p.point.longitude, -74.3803);
    EXPECT_EQ(p.point.rssi, -50);
    EXPECT_EQ(p.point.colour, qRgb(255, 0, 0)) << "the range's maximum is red";
    EXPECT_EQ(p.serial, QStringLiteral("AB123456"));
    EXPECT_EQ(p.palette, RssiPalette(-120, -50));
    EXPECT_GT(p.point.timeMs, 0);

    feed.check();
    feed.check();
    EXPECT_EQ(got.points.size(), 1u) << "the same point is not drawn twice";

    block.write(40.5472, -74.3803, -120, "AB123456", -120, -50);
    feed.check();
    ASSERT_EQ(got.points.size(), 2u);
    EXPECT_EQ(got.points[1].point.colour, qRgb(0, 0, 255));
    // The same place and value again is still a new point: the counter moved.
    block.write(40.5472, -74.3803, -120);
    feed.check();
    EXPECT_EQ(got.points.size(), 3u);
}

TEST(LivePointFeed, SkipsPointsCaughtMidWriteAndImpossiblePositions)
{
    const std::string name = uniqueBlockName("feed");
    TestBlock block(name);
    LivePointFeed feed(QString::fromStdString(name));
    Received got(feed);
    feed.start(true);

    block.write(40.5, -74.3, -80);
    block.setCounter(7); // the writer is midway, for good
    feed.check();
    EXPECT_TRUE(got.points.empty());
    block.setCounter(8);
    feed.check();
    EXPECT_EQ(got.points.size(), 1u);

    block.write(0, 0, -80); // a receiver without a fix
    feed.check();
    block.write(NAN, -74.3, -80);
    feed.check();
    block.write(91, -74.3, -80);
    feed.check();
    EXPECT_EQ(got.points.size(), 1u);
    block.write(40.6, -74.3, -80);
    feed.check();
    EXPECT_EQ(got.points.size(), 2u);
}

TEST(LivePointFeed, FollowsABlockRemovedAndMadeAgainByARestartedLogger)
{
    const std::string name = uniqueBlockName("feed");
    TestBlock block(name);
    LivePointFeed feed(QString::fromStdString(name));
    Received got(feed);
    feed.start(true);
    block.write(40.5, -74.3, -80, "AB123456");
    feed.check();
    ASSERT_EQ(got.points.size(), 1u);

    block.replace(); // its counter starts from 0 again
    feed.check();
    EXPECT_EQ(got.points.size(), 1u);
    block.write(40.7, -74.1, -60, "CD654321");
    feed.check();
    ASSERT_EQ(got.points.size(), 2u);
    EXPECT_EQ(got.points[1].serial, QStringLiteral("CD654321"));
    EXPECT_DOUBLE_EQ(got.points[1].point.latitude, 40.7);
}

TEST(LivePointFeed, WakesOnTheLoggersSignalWithoutPolling)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus";
    const std::string name = uniqueBlockName("feed");
    LivePointFeed feed(QString::fromStdString(name));
    Received got(feed);
    feed.start();
    EXPECT_FALSE(feed.polling());
    // A round trip to the bus puts the subscription in place before sending.
    QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"));

    MapExport exporter(name);
    exporter.setRange(-100, -40);
    exporter.SetMapRSSI(0, -40);
    TGPS gps;
    gps.Latitude = 40.5471;
    gps.Longitude = -74.3803;
    ASSERT_TRUE(exporter.SendMapData(gps, "AB123456"));
    ASSERT_TRUE(until([&] { return got.points.size() == 1; }));
    EXPECT_EQ(got.points[0].point.colour, qRgb(255, 0, 0));
    EXPECT_EQ(got.points[0].palette, RssiPalette(-100, -40));
    shm_unlink(name.c_str());
}

} // namespace
