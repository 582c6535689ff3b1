#include "gps/MapExport.h"
#include "protocol/TGPS.h"
#include "gps/GpsTestMessage.h"
#include "gps/MapTestSupport.h"
#include "platform/SharedMemory.h"

#include <QDBusConnection>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString watcherPath()
{
    return qEnvironmentVariable("TAVRIX_BIN_DIR") + "/tavrix-mapwatch";
}

// Starts the watcher and waits until it says it listens (or gives up).
bool startWatcher(QProcess& p, const QStringList& args, QByteArray* error)
{
    p.start(watcherPath(), args);
    if (!p.waitForStarted(5000)) {
        *error = "cannot start " + watcherPath().toUtf8();
        return false;
    }
    QByteArray err;
    p.setReadChannel(QProcess::StandardError);
    while (!err.contains("ready") && !err.contains("polling") && p.state() == QProcess::Running) {
        p.waitForReadyRead(5000);
        err += p.readAllStandardError();
    }
    err += p.readAllStandardError();
    p.setReadChannel(QProcess::StandardOutput);
    *error = err;
    return err.contains("ready") || err.contains("polling");
}

QList<QJsonObject> jsonLines(const QByteArray& out)
{
    QList<QJsonObject> lines;
    for (const QByteArray& line : out.split('\n'))
        if (!line.isEmpty())
            lines << QJsonDocument::fromJson(line).object();
    return lines;
}

TGPS at(double latitude, double longitude)
{
    TGPS gps;
    gps.Latitude = latitude;
    gps.Longitude = longitude;
    return gps;
}

} // namespace

// The independent reader hears one signal per export and reads each point.
TEST(MapWatch, SignalAnnouncesEveryPoint)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus";
    const std::string name = uniqueBlockName("watch");
    QProcess watcher;
    QByteArray error;
    ASSERT_TRUE(startWatcher(watcher, {"--name", QString::fromStdString(name), "--count", "2",
                                       "--json", "--timeout", "20000"}, &error))
        << error.toStdString();

    MapExport map(name);
    map.setRange(-110, -40);
    map.SetMapRSSI(0, -72);
    ASSERT_TRUE(map.SendMapData(at(40.5471, -74.3803), "SN000001"));
    // The second point goes out only once the first was read, so each
    // announcement finds its own point in the block.
    ASSERT_TRUE(watcher.waitForReadyRead(10000));
    QByteArray out = watcher.readAllStandardOutput();
    map.SetMapRSSI(0, -60);
    ASSERT_TRUE(map.SendMapData(at(-33.5, 151.25), "SN000001"));
    ASSERT_TRUE(watcher.waitForFinished(20000));
    out += watcher.readAllStandardOutput();
    EXPECT_EQ(watcher.exitCode(), 0) << watcher.readAllStandardError().toStdString();

    const QList<QJsonObject> points = jsonLines(out);
    ASSERT_EQ(points.size(), 2) << out.toStdString();
    EXPECT_EQ(points[0]["name"].toString(), "ZKTPELLORN");
    EXPECT_EQ(points[0]["version"].toInt(), 100);
    EXPECT_DOUBLE_EQ(points[0]["latitude"].toDouble(), 40.5471);
    EXPECT_DOUBLE_EQ(points[0]["longitude"].toDouble(), -74.3803);
    EXPECT_EQ(points[0]["kind"].toInt(), 1);
    EXPECT_EQ(points[0]["rssi"].toInt(), -72);
    EXPECT_EQ(points[0]["text"].toString(), "");
    EXPECT_EQ(points[0]["rangeMin"].toInt(), -110);
    EXPECT_EQ(points[0]["rangeMax"].toInt(), -40);
    EXPECT_EQ(points[0]["flag"].toInt(), 1);
    EXPECT_EQ(points[0]["serial"].toString(), "SN000001");
    EXPECT_TRUE(points[0]["whole"].toBool());
    EXPECT_DOUBLE_EQ(points[1]["latitude"].toDouble(), -33.5);
    EXPECT_EQ(points[1]["rssi"].toInt(), -60);
    EXPECT_GT(points[1]["sequence"].toInt(), points[0]["sequence"].toInt());
    SharedMemory::unlink(name);
}

// Polling needs no bus: a reader without D-Bus sees each new point too.
TEST(MapWatch, PollingSeesNewPoints)
{
    const std::string name = uniqueBlockName("poll");
    QProcess watcher;
    QByteArray error;
    ASSERT_TRUE(startWatcher(watcher, {"--name", QString::fromStdString(name), "--poll", "10",
                                       "--count", "1", "--timeout", "20000"}, &error))
        << error.toStdString();
    MapExport map(name, nullptr);
    ASSERT_TRUE(map.SendMapData(at(1.25, 2.5), "P"));
    ASSERT_TRUE(watcher.waitForFinished(20000));
    EXPECT_EQ(watcher.exitCode(), 0);
    const QByteArray out = watcher.readAllStandardOutput();
    EXPECT_TRUE(out.startsWith("name=ZKTPELLORN version=100 lat=1.2500000 lon=2.5000000 kind=1 "
                               "rssi=-120 text= min=-120 max=-50 flag=1 serial=P seq=2"))
        << out.toStdString();
    SharedMemory::unlink(name);
}

// A German desktop writes 40,5 for 40.5; JSON has only the decimal point.
TEST(MapWatch, JsonNumbersUseADecimalPointInAnyLocale)
{
    QTemporaryDir locales;
    QProcess localedef;
    localedef.start(QStringLiteral("localedef"), {"-i", "de_DE", "-f", "UTF-8", locales.path() + "/de_DE.UTF-8"});
    if (!localedef.waitForFinished(60000) || localedef.exitStatus() != QProcess::NormalExit
        || !QFileInfo::exists(locales.path() + "/de_DE.UTF-8"))
        GTEST_SKIP() << "cannot build a German locale here (localedef and Debian's locales package): "
                     << localedef.readAllStandardError().toStdString();

    const std::string name = uniqueBlockName("locale");
    QProcess watcher;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LOCPATH"), locales.path());
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("de_DE.UTF-8"));
    watcher.setProcessEnvironment(env);
    QByteArray error;
    ASSERT_TRUE(startWatcher(watcher, {"--name", QString::fromStdString(name), "--poll", "10", "--count", "1",
                                       "--json", "--timeout", "20000"}, &error))
        << error.toStdString();
    MapExport map(name, nullptr);
    ASSERT_TRUE(map.SendMapData(at(40.5471, -74.3803), "DE"));
    ASSERT_TRUE(watcher.waitForFinished(20000));
    const QByteArray out = watcher.readAllStandardOutput();
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(out.trimmed(), &parse);
    ASSERT_EQ(parse.error, QJsonParseError::NoError) << out.toStdString();
    EXPECT_DOUBLE_EQ(doc.object()["latitude"].toDouble(), 40.5471);
    EXPECT_DOUBLE_EQ(doc.object()["longitude"].toDouble(), -74.3803);
    SharedMemory::unlink(name);
}
