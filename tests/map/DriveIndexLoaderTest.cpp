// The drive's index built on a worker: the window gets it whole, or nothing
// with the reason, and a newer drive replaces a build still running.
#include "drive/DriveTestLog.h"
#include "map/DriveIndexLoader.h"
#include "map/EventWait.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

QString writeDrive(const QTemporaryDir& dir, const QString& name, int reports)
{
    DriveTestLog log;
    log.header(0x03).gps(40.0, -74.0, 0);
    for (int i = 0; i < reports; ++i)
        log.scan({{0, i % 10, -80}});
    log.gps(40.1, -74.1, 4);
    return QString::fromStdString(log.write(dir.filePath(name).toStdString()));
}

TEST(DriveIndexLoader, HandsOverTheIndexOnceBuilt)
{
    QTemporaryDir dir;
    DriveIndexLoader loader;
    int finished = 0;
    QObject::connect(&loader, &DriveIndexLoader::finished, [&] { ++finished; });
    loader.start(writeDrive(dir, QStringLiteral("a.KLF"), 100));
    ASSERT_TRUE(until([&] { return finished == 1; }));
    const auto index = loader.takeIndex();
    ASSERT_TRUE(index);
    EXPECT_EQ(index->records(), 102u);
    EXPECT_EQ(index->fixes().size(), 2u);
    EXPECT_DOUBLE_EQ(loader.progress(), 1.0);
    EXPECT_TRUE(loader.error().isEmpty());
}

TEST(DriveIndexLoader, ALogThatCannotBeReadIsNoIndexAndSaysWhy)
{
    QTemporaryDir dir;
    DriveIndexLoader loader;
    bool finished = false;
    QObject::connect(&loader, &DriveIndexLoader::finished, [&] { finished = true; });
    loader.start(dir.filePath(QStringLiteral("missing.KLF")));
    ASSERT_TRUE(until([&] { return finished; }));
    EXPECT_FALSE(loader.takeIndex());
    EXPECT_TRUE(loader.error().contains(QStringLiteral("missing.KLF"))) << loader.error().toStdString();
}

TEST(DriveIndexLoader, ANewerDriveReplacesTheOneBeingIndexed)
{
    QTemporaryDir dir;
    const QString big = writeDrive(dir, QStringLiteral("big.KLF"), 200000);
    const QString small = writeDrive(dir, QStringLiteral("small.KLF"), 10);
    DriveIndexLoader loader;
    int finished = 0;
    QObject::connect(&loader, &DriveIndexLoader::finished, [&] { ++finished; });
    loader.start(big);
    loader.start(small);
    ASSERT_TRUE(until([&] { return finished >= 1 && !loader.running(); }));
    EXPECT_EQ(finished, 1) << "the replaced build says nothing";
    const auto index = loader.takeIndex();
    ASSERT_TRUE(index);
    EXPECT_EQ(index->records(), 12u);
}

// Progress comes as signals, rising to the end before `finished`; a build
// cancelled says nothing more.
TEST(DriveIndexLoader, ProgressIsSignalledAndACancelledBuildSaysNothing)
{
    QTemporaryDir dir;
    const QString big = writeDrive(dir, QStringLiteral("big.KLF"), 200000);
    DriveIndexLoader loader;
    std::vector<double> said;
    int finished = 0;
    QObject::connect(&loader, &DriveIndexLoader::progressChanged, [&](double done) { said.push_back(done); });
    QObject::connect(&loader, &DriveIndexLoader::finished, [&] { ++finished; });
    loader.start(big);
    ASSERT_TRUE(until([&] { return finished == 1; }));
    ASSERT_TRUE(loader.takeIndex());
    ASSERT_FALSE(said.empty());
    EXPECT_TRUE(std::is_sorted(said.begin(), said.end()));
    EXPECT_DOUBLE_EQ(said.back(), 1.0);

    loader.start(big);
    loader.cancel();
    EXPECT_FALSE(loader.running());
    loader.start(writeDrive(dir, QStringLiteral("small.KLF"), 10));
    ASSERT_TRUE(until([&] { return finished == 2; }));
    const auto index = loader.takeIndex();
    ASSERT_TRUE(index);
    EXPECT_EQ(index->records(), 12u) << "the cancelled build's index never came";
}

} // namespace
