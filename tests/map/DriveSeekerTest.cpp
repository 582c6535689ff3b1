// Stretches of a drive's reports read off the window thread: requests made
// while a read is under way coalesce to the newest, and a stretch of a drive
// replaced never arrives.
#include "drive/DriveIndex.h"
#include "drive/DriveTestLog.h"
#include "map/DriveSeeker.h"
#include "map/EventWait.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

QString writeDrive(const QTemporaryDir& dir, const QString& name, int reports, int rssi)
{
    DriveTestLog log;
    log.header(0x03).gps(40.0, -74.0, 0);
    for (int i = 0; i < reports; ++i)
        log.scan({{0, i % 10, rssi}});
    log.gps(40.1, -74.1, 4);
    return QString::fromStdString(log.write(dir.filePath(name).toStdString()));
}

std::shared_ptr<const DriveIndex> indexOf(const QString& path)
{
    auto index = std::make_shared<DriveIndex>();
    EXPECT_TRUE(index->build(path.toStdString()));
    return index;
}

class DriveSeekerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QObject::connect(&seeker, &DriveSeeker::ready, [this] {
            if (std::optional<DriveSeeker::Stretch> s = seeker.take())
                arrived.push_back(std::move(*s));
        });
    }

    QTemporaryDir dir;
    DriveSeeker seeker;
    std::vector<DriveSeeker::Stretch> arrived;
};

TEST_F(DriveSeekerTest, RequestsMadeDuringAReadCoalesceToTheNewest)
{
    const QString path = writeDrive(dir, QStringLiteral("a.KLF"), 3000, -80);
    seeker.setDrive(path, indexOf(path));
    seeker.request(0, 100);    // read at once
    seeker.request(100, 200);  // replaced before its read begins
    seeker.request(2000, 2500);
    ASSERT_TRUE(until([&] { return arrived.size() == 2; }));
    EXPECT_EQ(arrived[0].from, 0u);
    EXPECT_EQ(arrived[1].from, 2000u);
    EXPECT_EQ(arrived[1].to, 2500u);
    for (const DriveSeeker::Stretch& s : arrived) {
        EXPECT_TRUE(s.ok);
        ASSERT_FALSE(s.reports.empty());
        EXPECT_GE(s.reports.front().record, s.from);
        EXPECT_LT(s.reports.back().record, s.to);
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(arrived.size(), 2u) << "the replaced request was never read";
}

TEST_F(DriveSeekerTest, AStretchOfADriveReplacedNeverArrives)
{
    const QString first = writeDrive(dir, QStringLiteral("first.KLF"), 20000, -80);
    const QString second = writeDrive(dir, QStringLiteral("second.KLF"), 50, -60);
    seeker.setDrive(first, indexOf(first));
    seeker.request(0, 20000);
    seeker.setDrive(second, indexOf(second));
    seeker.request(0, 52);
    ASSERT_TRUE(until([&] { return !arrived.empty(); }));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    ASSERT_EQ(arrived.size(), 1u);
    EXPECT_TRUE(arrived[0].ok);
    EXPECT_EQ(arrived[0].to, 52u);
    EXPECT_LE(arrived[0].reports.size(), 52u) << "the second drive's reports, not the first's";
    EXPECT_FALSE(arrived[0].reports.empty());
}

TEST_F(DriveSeekerTest, ALogGoneIsAStretchNotRead)
{
    const QString path = writeDrive(dir, QStringLiteral("gone.KLF"), 100, -80);
    const auto index = indexOf(path);
    ASSERT_TRUE(QFile::remove(path));
    seeker.setDrive(path, index);
    seeker.request(0, 50);
    ASSERT_TRUE(until([&] { return !arrived.empty(); }));
    EXPECT_FALSE(arrived[0].ok);
}

} // namespace
