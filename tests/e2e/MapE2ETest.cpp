// tavrix-map beside the whole program and the device emulator: live points
// from the program's map block and announcement, then the drive the program
// logged, drawn from its .KLF.
#include "app/AppTestSupport.h"
#include "e2e/ProgramFixture.h"
#include "app/Program.h"
#include "app/TCom_Form.h"
#include "app/TMain_Form.h"
#include "protocol/GpsRecord.h"
#include "gps/TMapRange_Form.h"
#include "link/LinkSettings.h"
#include "log/LogControl.h"
#include "log/TLogWarningForm.h"
#include "map/MapView.h"
#include "map/MapWindow.h"
#include "platform/WorkerThread.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

bool until(const std::function<bool()>& done, int timeoutMs = 15000)
{
    return processUntil(done, timeoutMs);
}

class MapBesideTheProgram : public ProgramFixture
{
protected:
    void startEmulator(QStringList args)
    {
        ASSERT_TRUE(startEmulatorProcess(sim, args, port, statsPath));
        ASSERT_TRUE(until([&] { return QFileInfo::exists(port); }, 5000)) << "no pty from the emulator";
    }

    void connectProgram()
    {
        program = std::make_unique<Program>(device, samples, gps, link);
        QComboBox* choice = program->comForm().portChoice();
        choice->setEditText(port);
        QTest::keyClick(choice->lineEdit(), Qt::Key_Return);
        ASSERT_TRUE(until([&] {
            auto* sn = program->mainForm().findChild<QLineEdit*>(QStringLiteral("edSN"));
            return sn && sn->text() == QStringLiteral("SN: AB123456");
        }));
    }

    int gpsSent() const
    {
        return readEmulatorStats(statsPath).value(QStringLiteral("sent")).toObject()
            .value(QStringLiteral("GpsMessage")).toInt();
    }

    // GPS on until `count` more messages went out, then off again; returns
    // how many went out in all, once the map shows each of them.
    int gpsStretch(MapWindow& map, std::size_t baseline, int count)
    {
        const int before = gpsSent();
        command("gps on");
        EXPECT_TRUE(until([&] { return gpsSent() >= before + count; }, 30000));
        command("gps off");
        // The stats file is written once a second and a GPS message may still
        // be on its way: only a drained, paused emulator gives the final count.
        command("pause");
        command("drain");
        EXPECT_TRUE(until([&] {
            while (const auto line = sim.readLine(0))
                if (line->rfind("tavrix-sim: drained ", 0) == 0)
                    return true;
            return false;
        })) << "the emulator never drained";
        const int sent = gpsSent() - before;
        command("resume");
        EXPECT_TRUE(until([&] { return int(map.view()->pointCount() - baseline) == sent; }))
            << "sent " << sent << ", on the map " << map.view()->pointCount() - baseline;
        return sent;
    }
};

MapWindow::Options gridOnly(const QTemporaryDir& dir)
{
    MapWindow::Options o;
    o.settingsFile = dir.filePath(QStringLiteral("tavrix-map.ini"));
    o.grid = true;
    return o;
}

TEST_F(MapBesideTheProgram, EveryGpsMessageIsADotInThePalettesColoursAndTheLoggedDriveDrawsToo)
{
    startEmulator({"--gps", "off", "--mode", "scan"});
    connectProgram();

    MapWindow map(gridOnly(dir));
    map.resize(1000, 760);
    map.show();
    map.startLive();
    // A point left in the block by an earlier run may be drawn at once.
    const std::size_t stale = map.view()->pointCount();

    program->mainForm().findChild<QLineEdit*>(QStringLiteral("LogFile"))->setText(dir.filePath(QStringLiteral("drive")));
    program->mainForm().findChild<QAbstractButton*>(QStringLiteral("btnLogMode"))->click();
    ASSERT_TRUE(program->logWarningForm().isVisible());
    program->logWarningForm().Button1Click();

    const int n = gpsStretch(map, stale, 5);
    ASSERT_GE(n, 5);
    std::printf("[ figure   ] %d GPS messages, %d dots\n", n, int(map.view()->pointCount() - stale));
    EXPECT_TRUE(map.info().contains(QStringLiteral("SN: AB123456"))) << map.info().toStdString();

    // Red at the range's maximum: a range every reading is above.
    program->mapRangeForm().edRSSIMax()->setText(QStringLiteral("-125"));
    program->mapRangeForm().edRSSIMin()->setText(QStringLiteral("-140"));
    const std::size_t beforeRed = map.view()->pointCount();
    const int reds = gpsStretch(map, beforeRed, 2);
    ASSERT_GE(reds, 2);
    program->mainForm().findChild<QAbstractButton*>(QStringLiteral("btnLogMode"))->click();
    program->logControl().shutdown();

    // Every new dot: its palette's colour, and drawn so where no later dot covers it.
    MapView* view = map.view();
    view->fitDrive();
    const QImage frame = view->renderImage();
    const qreal ratio = frame.devicePixelRatio();
    const PointLayer& layer = view->layers().back();
    ASSERT_GE(layer.size(), std::size_t(n + reds));
    const std::size_t first = layer.size() - std::size_t(n + reds);
    int checked = 0;
    for (std::size_t i = first; i < layer.size(); ++i) {
        const MapPoint& p = layer.point(i);
        const bool red = i >= layer.size() - std::size_t(reds);
        const RssiPalette palette = red ? RssiPalette(-140, -125) : RssiPalette(-120, -50);
        EXPECT_EQ(p.colour, palette.argb(p.rssi)) << i;
        if (red) {
            EXPECT_EQ(QColor(p.colour), QColor(Qt::red)) << "RSSI " << p.rssi << " is at or above the maximum";
        }
        const QPointF at = view->screenPosition(int(view->layers().size() - 1), i);
        bool covered = false;
        for (std::size_t j = i + 1; j < layer.size(); ++j)
            covered = covered || QLineF(at, view->screenPosition(int(view->layers().size() - 1), j)).length() < 11;
        if (covered)
            continue;
        ++checked;
        EXPECT_EQ(QColor(frame.pixel((at * ratio).toPoint())), QColor(p.colour)) << "dot " << i;
    }
    EXPECT_GE(checked, (n + reds) / 2) << "the route spreads the dots apart";

    // The drive the program logged, drawn from its file.
    MapWindow recorded(gridOnly(dir));
    recorded.show();
    bool loaded = false;
    QObject::connect(recorded.loader(), &DriveLoader::finished, &recorded, [&] { loaded = true; }, Qt::QueuedConnection);
    const QString log = dir.filePath(QStringLiteral("drive.KLF"));
    ASSERT_TRUE(QFileInfo::exists(log));
    recorded.openDrive(log);
    ASSERT_TRUE(until([&] { return loaded; }));
    ASSERT_FALSE(recorded.view()->layers().empty());
    const PointLayer& drive = recorded.view()->layers().front();
    EXPECT_EQ(drive.size(), std::size_t(n + reds - 1)) << "one dot between each two logged fixes";
    EXPECT_TRUE(recorded.info().contains(QStringLiteral("SN: AB123456"))) << recorded.info().toStdString();
    // Placed between fixes of the route the live map drew (with the fixes' few metres of wander).
    const QRectF route = layer.worldBounds();
    const double slack = 30.0 / 40075016.0; // about 30 m in world units
    const QRectF around = route.adjusted(-slack, -slack, slack, slack);
    for (std::size_t i = 0; i < drive.size(); ++i)
        EXPECT_TRUE(around.contains(drive.world()[i])) << "sample " << i;
    for (std::size_t i = 0; i < drive.size(); ++i)
        EXPECT_EQ(drive.point(i).colour, RssiPalette(-120, -50).argb(drive.point(i).rssi));
}

} // namespace
