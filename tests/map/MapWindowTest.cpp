// tavrix-map's window, offscreen, always on the grid or local sources: a
// test never reaches a real tile server.
#include "drive/DriveTestLog.h"
#include "gps/MapTestSupport.h"
#include "map/EventWait.h"
#include "map/MapView.h"
#include "map/MapWindow.h"
#include "map/TestBlock.h"
#include "map/TileMath.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

class MapWindowTest : public ::testing::Test
{
protected:
    MapWindow::Options options(bool grid = true) const
    {
        MapWindow::Options o;
        o.settingsFile = dir.filePath(QStringLiteral("tavrix-map.ini"));
        o.grid = grid;
        o.poll = true;
        o.blockName = QString::fromStdString(blockName);
        return o;
    }

    QString writeDrive()
    {
        DriveTestLog log;
        log.header(0x03)
            .gps(40.5000, -74.4000, 0)
            .table({{0, 4, -120}, {0, 9, -110}})
            .gps(40.5005, -74.3985, 4)
            .table({{0, 4, -50}})
            .gps(40.5010, -74.3970, 8);
        return QString::fromStdString(log.write(dir.filePath(QStringLiteral("drive.KLF")).toStdString()));
    }

    QTemporaryDir dir;
    std::string blockName = uniqueBlockName("mapwindow");
};

QStringList actionTexts(QMenu* menu)
{
    QStringList out;
    for (QAction* a : menu->actions())
        if (!a->isSeparator())
            out << a->text();
    return out;
}

TEST_F(MapWindowTest, TitleMenusAndEveryFieldNamedForScreenReaders)
{
    MapWindow window(options());
    EXPECT_TRUE(window.windowTitle().contains(QStringLiteral("Tavrix Map")));
    const QList<QAction*> menus = window.menuBar()->actions();
    ASSERT_GE(menus.size(), 3);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("&File"));
    EXPECT_EQ(actionTexts(menus[0]->menu()),
              (QStringList{QStringLiteral("&Open…"), QStringLiteral("Open &Database…"), QStringLiteral("&Live"),
                           QStringLiteral("&Export Image…"), QStringLiteral("&Quit")}));
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if ((qobject_cast<QLabel*>(w) && w->parent() == window.statusBar()) || qobject_cast<QComboBox*>(w)
            || qobject_cast<MapView*>(w)) {
            EXPECT_FALSE(w->accessibleName().isEmpty()) << w->metaObject()->className();
        }
    }
    EXPECT_EQ(window.baseMap(), MapWindow::BaseMap::Grid);
}

TEST_F(MapWindowTest, RecordedDriveIsDrawnInThePalettesColoursAndExported)
{
    MapWindow window(options());
    window.resize(900, 700);
    window.show();
    bool loaded = false;
    QObject::connect(window.loader(), &DriveLoader::finished, &window, [&] { loaded = true; }, Qt::QueuedConnection);
    window.openDrive(writeDrive());
    ASSERT_TRUE(until([&] { return loaded; }));
    MapView* view = window.view();
    ASSERT_EQ(view->pointCount(), 2u);
    EXPECT_EQ(view->layers()[0].point(0).rssi, -110);
    EXPECT_EQ(view->layers()[0].point(1).rssi, -50);

    const QImage frame = view->renderImage();
    const QPointF first = view->screenPosition(0, 0) * frame.devicePixelRatio();
    const QPointF second = view->screenPosition(0, 1) * frame.devicePixelRatio();
    ASSERT_GT(QLineF(first, second).length(), 12) << "fitted: the dots lie apart";
    EXPECT_EQ(QColor(frame.pixel(first.toPoint())), QColor::fromRgb(RssiPalette(-120, -50).argb(-110)));
    EXPECT_EQ(QColor(frame.pixel(second.toPoint())), QColor(Qt::red)) << "the range's maximum";

    // Hovering finds the point under the pointer and names it.
    const MapRenderer::Selection at = view->pointAt(view->screenPosition(0, 1) + QPointF(2, 1));
    EXPECT_EQ(at.layer, 0);
    EXPECT_EQ(at.index, 1);
    const QString text = MapView::describe(view->layers()[0].point(1));
    EXPECT_TRUE(text.contains(QStringLiteral("R1")) && text.contains(QStringLiteral("Channel 5"))
                && text.contains(QStringLiteral("-50 dBm")) && text.contains(QStringLiteral("MHz"))
                && text.contains(QStringLiteral("UTC")))
        << text.toStdString();

    // The channel list offers what the drive holds; one channel redraws.
    auto* measure = window.findChild<QComboBox*>();
    QComboBox* channel = nullptr;
    for (QComboBox* c : window.findChildren<QComboBox*>())
        if (c->accessibleName() == QStringLiteral("Channel or frequency"))
            channel = c;
    ASSERT_TRUE(measure && channel);
    ASSERT_EQ(channel->count(), 3);
    EXPECT_EQ(channel->itemText(1), QStringLiteral("Channel 5"));
    loaded = false;
    channel->setCurrentIndex(1);
    emit channel->activated(1);
    ASSERT_TRUE(until([&] { return loaded; }));
    ASSERT_EQ(view->pointCount(), 2u);
    EXPECT_EQ(view->layers()[0].point(0).rssi, -120);

    const QString png = dir.filePath(QStringLiteral("map.png"));
    ASSERT_TRUE(window.exportImage(png));
    const QImage saved(png);
    EXPECT_EQ(saved.size(), view->size() * view->devicePixelRatioF());
}

// A drive across ±180° is fitted to itself and drawn on both sides; one
// beyond 85.05°, where the base map ends, is said.
TEST_F(MapWindowTest, ADriveAcrossTheAntimeridianIsFittedAndOneBeyondTheBaseMapIsSaid)
{
    struct Case
    {
        const char* what;
        double lat;
        double lons[4];
        const char* said; // in the status bar, or nothing
    };
    const Case cases[] = {
        {"across ±180°", 64.80, {179.9980, 179.9990, -179.9990, -179.9980}, nullptr},
        {"north of the base map", 86.10, {20.0000, 20.0010, 20.0020, 20.0030},
         "points of this drive lie beyond 85.05° north or south"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A reading between the first two fixes and between the last two:
        // no stretch of the route crosses ±180° itself.
        DriveTestLog log;
        log.header(0x03)
            .gps(c.lat, c.lons[0], 0)
            .table({{0, 4, -50}})
            .gps(c.lat, c.lons[1], 4)
            .gps(c.lat, c.lons[2], 8)
            .table({{0, 4, -60}})
            .gps(c.lat, c.lons[3], 12);
        const QString drive = QString::fromStdString(
            log.write(dir.filePath(QStringLiteral("drive%1.KLF").arg(n++)).toStdString()));
        MapWindow window(options());
        window.resize(900, 700);
        window.show();
        bool loaded = false;
        QObject::connect(window.loader(), &DriveLoader::finished, &window, [&] { loaded = true; }, Qt::QueuedConnection);
        window.openDrive(drive);
        ASSERT_TRUE(until([&] { return loaded; }));
        MapView* view = window.view();
        ASSERT_EQ(view->pointCount(), 2u);
        EXPECT_GE(view->viewport().zoom(), 12) << "fitted to the drive, not to the whole world";
        const QRectF shown(QPointF(0, 0), view->viewport().size());
        const QImage frame = view->renderImage();
        for (std::size_t i = 0; i < 2; ++i) {
            const QPointF at = view->screenPosition(0, i);
            ASSERT_TRUE(shown.contains(at)) << "point " << i;
            EXPECT_EQ(frame.pixel((at * frame.devicePixelRatio()).toPoint()), view->layers()[0].point(i).colour | 0xff000000u)
                << "point " << i << " drawn where it is";
        }
        if (c.said)
            EXPECT_TRUE(window.statusMessage().contains(QString::fromUtf8(c.said))) << window.statusMessage().toStdString();
        else
            EXPECT_FALSE(window.statusMessage().contains(QStringLiteral("85.05"))) << window.statusMessage().toStdString();
    }
}

TEST_F(MapWindowTest, LivePointsComeFromTheBlockAndANewDeviceStartsANewLayer)
{
    TestBlock block(blockName);
    MapWindow window(options());
    window.show();
    window.startLive();
    EXPECT_TRUE(window.live());
    EXPECT_TRUE(window.feed()->polling());
    block.write(40.5471, -74.3803, -50, "AB123456");
    ASSERT_TRUE(until([&] { return window.view()->pointCount() == 1; }));
    EXPECT_TRUE(window.info().contains(QStringLiteral("SN: AB123456"))) << window.info().toStdString();
    EXPECT_TRUE(window.info().contains(QStringLiteral("-50 dBm"))) << window.info().toStdString();
    block.write(40.5472, -74.3803, -60, "AB123456");
    ASSERT_TRUE(until([&] { return window.view()->pointCount() == 2; }));
    block.write(40.5473, -74.3803, -60, "CD654321");
    ASSERT_TRUE(until([&] { return window.view()->pointCount() == 3; }));
    EXPECT_EQ(window.view()->layers().size(), 2u);
    // Following: the newest point sits in the middle of the view.
    const QPointF newest = window.view()->screenPosition(1, 0);
    EXPECT_NEAR(newest.x(), window.view()->width() / 2.0, 1);
    EXPECT_NEAR(newest.y(), window.view()->height() / 2.0, 1);

    // Moving by hand stops following; the menu's tick follows suit.
    window.view()->setFocus();
    QTest::keyClick(window.view(), Qt::Key_Left);
    EXPECT_FALSE(window.view()->followNewest());
    block.write(40.5474, -74.3803, -60, "CD654321");
    ASSERT_TRUE(until([&] { return window.view()->pointCount() == 4; }));
    EXPECT_GT(std::abs(window.view()->screenPosition(1, 1).x() - window.view()->width() / 2.0), 30);
}

TEST_F(MapWindowTest, KeysZoomAndPanAndTheViewIsKeptBetweenRuns)
{
    QPointF centre;
    QSize size;
    {
        MapWindow window(options());
        window.resize(700, 500);
        window.show();
        MapView* view = window.view();
        view->viewport().setZoom(10);
        view->viewport().setCentre(TileMath::worldFromGeo(40.5, -74.4));
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Plus);
        EXPECT_EQ(view->viewport().zoom(), 11);
        QTest::keyClick(view, Qt::Key_Minus);
        QTest::keyClick(view, Qt::Key_Minus);
        EXPECT_EQ(view->viewport().zoom(), 9);
        const QPointF before = view->viewport().centre();
        QTest::keyClick(view, Qt::Key_Right);
        EXPECT_GT(view->viewport().centre().x(), before.x()) << "the view moves east";
        centre = view->viewport().centre();
        size = window.size();
        window.close();
    }
    MapWindow again(options());
    EXPECT_EQ(again.view()->viewport().zoom(), 9);
    EXPECT_NEAR(again.view()->viewport().centre().x(), centre.x(), 1e-9);
    EXPECT_NEAR(again.view()->viewport().centre().y(), centre.y(), 1e-9);
    EXPECT_EQ(again.size(), size);
}

TEST_F(MapWindowTest, ABrokenMbtilesFileFallsBackToTheGrid)
{
    QFile junk(dir.filePath(QStringLiteral("junk.mbtiles")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a database");
    junk.close();
    MapWindow::Options o = options(false);
    o.mbtiles = junk.fileName();
    MapWindow window(o);
    EXPECT_EQ(window.baseMap(), MapWindow::BaseMap::Grid);
    const QImage frame = window.view()->renderImage();
    EXPECT_FALSE(frame.isNull());
}


// A one-off --grid or --mbtiles is for that run: the next run without it
// shows the base map the user chose in the window.
TEST_F(MapWindowTest, ABaseMapFromTheCommandLineIsNotSaved)
{
    {
        MapWindow chosen(options(false));
        chosen.useGrid(); // chosen from the menu: kept
    }
    {
        MapWindow::Options o = options(false);
        o.tileUrl = QStringLiteral("http://127.0.0.1:9/{z}/{x}/{y}.png");
        MapWindow oneOff(o);
        EXPECT_EQ(oneOff.baseMap(), MapWindow::BaseMap::Network);
        oneOff.close();
    }
    MapWindow::Options o = options(false);
    o.mbtiles = dir.filePath(QStringLiteral("none.mbtiles"));
    {
        MapWindow missing(o);
    }
    MapWindow later(options(false));
    EXPECT_EQ(later.baseMap(), MapWindow::BaseMap::Grid);
}

// A bad MBTiles file said before the window shows, then live mode's notice:
// one message in the status bar, the error, in place of the fields.
TEST_F(MapWindowTest, OneStatusMessageAtATimeTheErrorFirst)
{
    MapWindow::Options o = options(false);
    o.mbtiles = dir.filePath(QStringLiteral("none.mbtiles"));
    MapWindow window(o);
    window.show();
    window.startLive();
    EXPECT_TRUE(window.statusMessage().startsWith(QStringLiteral("Could not open"))) << window.statusMessage().toStdString();
    int shownTexts = 0;
    for (QLabel* label : window.statusBar()->findChildren<QLabel*>())
        shownTexts += label->isVisible() && !label->text().isEmpty();
    EXPECT_EQ(shownTexts, 1) << "texts drawn over each other";
}

// A home that cannot be written: the tile cache and the settings fail. The
// map runs without the cache and says so once, naming the folder; the
// settings failure is said, not silently lost.
TEST_F(MapWindowTest, AHomeThatCannotBeWrittenIsSaidOnceAndTheMapRunsWithoutTheCache)
{
    QFile file(dir.filePath(QStringLiteral("a-file")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    MapWindow::Options o = options(false);
    o.tileUrl = QStringLiteral("http://127.0.0.1:9/{z}/{x}/{y}.png");
    o.tileCacheDir = file.fileName() + QStringLiteral("/tiles"); // under a file: no folder can be made
    o.settingsFile = file.fileName() + QStringLiteral("/tavrix-map.ini");
    MapWindow window(o);
    window.show();
    ASSERT_EQ(window.baseMap(), MapWindow::BaseMap::Network);
    EXPECT_TRUE(window.statusMessage().contains(o.tileCacheDir)) << window.statusMessage().toStdString();
    window.useNetworkTiles();
    window.useNetworkTiles();
    EXPECT_FALSE(window.view()->renderImage().isNull()) << "the map draws without its cache";
    window.close();
    EXPECT_TRUE(window.settingsProblem().contains(o.settingsFile)) << window.settingsProblem().toStdString();
}

} // namespace
