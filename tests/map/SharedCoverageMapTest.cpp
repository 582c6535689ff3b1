// tavrix-map on a shared coverage map in a real PostgreSQL with PostGIS:
// refreshed by the server's notifications as other vehicles upload, through
// a restarted server, and from the command line.
#include "coverage/CoverageMapReader.h"
#include "coverage/PgCluster.h"
#include "gps/MapTestSupport.h"
#include "map/CoverageController.h"
#include "map/CoverageLayer.h"
#include "map/CoveragePanel.h"
#include "map/EventWait.h"
#include "map/MapView.h"
#include "map/MapWindow.h"
#include "map/OpenDatabaseDialog.h"
#include "map/SharedMapWatcher.h"
#include "map/TileMath.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr int kLimitMs = 120000; // a safety net, never a delay

class CoverageMapShared : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const std::string why = cluster.start();
        if (!why.empty())
            GTEST_SKIP() << why;
        const CoverageTest::Ran db = cluster.sql("CREATE DATABASE coverage");
        ASSERT_EQ(db.status, 0) << db.out;
    }

    std::string path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }
    QString source() const { return QString::fromStdString(cluster.gdal("coverage")); }

    // A vehicle's upload, committed when it returns.
    void upload(const std::string& name, unsigned seed, double lat, double lon)
    {
        const std::string log = CoverageTest::writeDrive(path(name), seed, lat, lon, 0.0002, 0.0001, 60);
        const CoverageTest::Ran r =
            CoverageTest::run(CoverageTest::tool("klf-coverage") + " --db '" + cluster.gdal("coverage") + "' '" + log + "' 2>&1");
        ASSERT_EQ(r.status, 0) << r.out;
    }

    MapWindow::Options options() const
    {
        MapWindow::Options o;
        o.settingsFile = dir.filePath(QStringLiteral("map.ini"));
        o.grid = true;
        o.poll = true;
        o.blockName = QString::fromStdString(uniqueBlockName("shared"));
        return o;
    }

    // Opens the shared map and waits until it is drawn and listened to.
    void open(MapWindow& w)
    {
        QString error;
        bool opened = false;
        const auto c = QObject::connect(w.coverage(), &CoverageController::opened, [&](const QString&, const QString& e) {
            opened = true;
            error = e;
        });
        w.openCoverage(source());
        ASSERT_TRUE(until([&] { return opened && w.coverage()->sharedWatcher()->listening(); }, kLimitMs));
        QObject::disconnect(c);
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    }

    // The window's cells are what the database holds, under the window's choices.
    bool drawsTheDatabase(const MapWindow& w, std::string& why) const
    {
        std::vector<CoverageMapReader::Cell> cells;
        if (!CoverageMapReader::read(cluster.gdal("coverage"), cells, why))
            return false;
        const CoverageLayer& got = w.coverage()->layer();
        CoverageLayer want;
        want.setCells(cells);
        want.setFigure(got.figure());
        want.setReceiver(got.receiver());
        want.setFrequency(got.frequency());
        const auto& g = got.frequencySummaries();
        const auto& s = want.frequencySummaries();
        if (g.size() != s.size() || got.shownCells() != want.shownCells()) {
            why = "other frequencies or another number of cells";
            return false;
        }
        for (size_t i = 0; i < g.size(); ++i)
            if (g[i].mhz != s[i].mhz || g[i].samples != s[i].samples || g[i].cells != s[i].cells) {
                why = "other samples on a frequency";
                return false;
            }
        for (const CoverageMapReader::Cell& c : cells) {
            const double lat = (c.bounds.south + c.bounds.north) / 2, lon = (c.bounds.west + c.bounds.east) / 2;
            if (got.describeAt(lat, lon) != want.describeAt(lat, lon)) {
                why = "other figures at " + std::to_string(lat) + ", " + std::to_string(lon);
                return false;
            }
        }
        return true;
    }

    // Serves the window until it has drawn other cells and they are the database's.
    bool waitForTheDatabase(MapWindow& w, const int& drawn, std::string& why)
    {
        int seen = drawn;
        return until([&] { return drawn != std::exchange(seen, drawn) && drawsTheDatabase(w, why); }, kLimitMs);
    }

    static QLabel* connectionField(MapWindow& w)
    {
        for (QLabel* l : w.statusBar()->findChildren<QLabel*>())
            if (l->accessibleName() == QLatin1String("Shared map connection"))
                return l;
        return nullptr;
    }

    QTemporaryDir dir;
    PgCluster cluster;
};

// Another vehicle's upload commits: the window reads the cells again by
// itself, and the view, the choices and the clicked cell stay.
TEST_F(CoverageMapShared, AnotherVehiclesUploadIsDrawnWithTheViewKept)
{
    upload("a.KLF", 41, 52.52, 13.40);
    MapWindow w(options());
    w.show();
    ASSERT_NO_FATAL_FAILURE(open(w));
    QLabel* field = connectionField(w);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(), QStringLiteral("Shared map: live"));

    CoveragePanel* panel = w.coverage()->panel();
    ASSERT_GT(panel->frequencyBox()->count(), 1);
    panel->figureBox()->setCurrentIndex(1);
    panel->receiverBox()->setCurrentIndex(1);
    panel->frequencyBox()->setCurrentIndex(1);
    const double mhz = panel->frequencyBox()->currentData().toDouble();
    std::vector<CoverageMapReader::Cell> cells;
    std::string why;
    ASSERT_TRUE(CoverageMapReader::read(cluster.gdal("coverage"), cells, why)) << why;
    const CoverageMapReader::Cell& first = cells.front();
    emit w.view()->clickedAt(TileMath::worldFromGeo((first.bounds.south + first.bounds.north) / 2,
                                                    (first.bounds.west + first.bounds.east) / 2));
    ASSERT_TRUE(w.coverage()->layer().hasSelection());
    w.view()->viewport().setZoom(w.view()->viewport().zoom() - 1);
    const int zoom = w.view()->viewport().zoom();
    const QPointF centre = w.view()->viewport().centre();

    int drawn = 0, changed = 0;
    QObject::connect(w.coverage(), &CoverageController::cellsChanged, [&] { ++drawn; });
    QObject::connect(w.coverage(), &CoverageController::sharedMapChanged, [&] { ++changed; });
    upload("b.KLF", 42, 52.5205, 13.4005);
    ASSERT_TRUE(waitForTheDatabase(w, drawn, why)) << why;

    EXPECT_EQ(changed, 1);
    EXPECT_EQ(panel->figureBox()->currentIndex(), 1);
    EXPECT_EQ(panel->receiverBox()->currentIndex(), 1);
    EXPECT_EQ(panel->frequencyBox()->currentData().toDouble(), mhz);
    EXPECT_EQ(w.coverage()->layer().frequency(), mhz);
    EXPECT_EQ(w.view()->viewport().zoom(), zoom);
    EXPECT_EQ(w.view()->viewport().centre(), centre);
    EXPECT_TRUE(w.coverage()->layer().hasSelection());
    EXPECT_FALSE(panel->findChild<QPlainTextEdit*>()->toPlainText().isEmpty());
}

// Reloads asked for while one runs, as a burst of uploads asks, make one
// more read after it, not one each.
TEST_F(CoverageMapShared, ABurstOfUploadsIsReadOnceAfterTheReadRunning)
{
    upload("a.KLF", 43, 52.52, 13.40);
    MapWindow w(options());
    ASSERT_NO_FATAL_FAILURE(open(w));
    int drawn = 0, changed = 0;
    QObject::connect(w.coverage(), &CoverageController::cellsChanged, [&] { ++drawn; });
    QObject::connect(w.coverage(), &CoverageController::sharedMapChanged, [&] { ++changed; });
    for (int i = 0; i < 4; ++i)
        w.coverage()->reload();
    ASSERT_TRUE(until([&] { return drawn == 2 && !w.coverage()->reading(); }, kLimitMs));
    EXPECT_EQ(changed, 2);
}

// The server restarts under the window: the status bar says the connection
// was lost, and once the server is back the window listens again and reads
// what was uploaded meanwhile.
TEST_F(CoverageMapShared, AServerRestartIsSaidAndTheMapIsReadAgainOnceItIsBack)
{
    upload("a.KLF", 44, 52.52, 13.40);
    MapWindow w(options());
    w.show();
    ASSERT_NO_FATAL_FAILURE(open(w));
    QLabel* field = connectionField(w);
    ASSERT_NE(field, nullptr);

    ASSERT_EQ(cluster.stop(), "");
    ASSERT_TRUE(until([&] { return field->text().startsWith(QStringLiteral("Shared map: no connection")); }, kLimitMs));
    EXPECT_TRUE(w.statusMessage().contains(QStringLiteral("Lost the connection to the shared map"))) << w.statusMessage().toStdString();

    int drawn = 0;
    QObject::connect(w.coverage(), &CoverageController::cellsChanged, [&] { ++drawn; });
    ASSERT_EQ(cluster.resume(), "");
    upload("b.KLF", 45, 52.5205, 13.4005);
    std::string why;
    ASSERT_TRUE(waitForTheDatabase(w, drawn, why)) << why;
    EXPECT_EQ(field->text(), QStringLiteral("Shared map: live"));
    EXPECT_TRUE(w.coverage()->sharedWatcher()->listening());
}

// File > Open Database… asks for the connection text (PG: may be left out),
// opens the shared map, and offers the text again next time, without the
// password it was given with.
TEST_F(CoverageMapShared, OpenDatabaseAsksForTheConnectionAndRemembersItWithoutThePassword)
{
    upload("a.KLF", 47, 52.52, 13.40);
    MapWindow w(options());
    w.show();
    QAction* action = nullptr;
    for (QAction* a : w.findChildren<QAction*>())
        if (a->text() == QStringLiteral("Open &Database…"))
            action = a;
    ASSERT_NE(action, nullptr);

    const QString typed = QString::fromStdString(cluster.conninfo("coverage")) + QStringLiteral(" password=hunter2");
    QString offered;
    auto answer = [&](const QString& text) {
        // Runs inside the dialog's own event loop, once it is up.
        QTimer::singleShot(0, &w, [&, text] {
            auto* dialog = w.findChild<OpenDatabaseDialog*>();
            ASSERT_NE(dialog, nullptr);
            EXPECT_FALSE(dialog->connectionEdit()->accessibleName().isEmpty());
            QPushButton* open = dialog->buttons()->button(QDialogButtonBox::Open);
            EXPECT_FALSE(open->accessibleName().isEmpty());
            offered = dialog->connectionEdit()->text();
            dialog->connectionEdit()->setText(text);
            EXPECT_EQ(open->isEnabled(), !text.trimmed().isEmpty());
            text.trimmed().isEmpty() ? dialog->reject() : open->click();
        });
        action->trigger();
    };
    bool opened = false;
    QObject::connect(w.coverage(), &CoverageController::opened, [&](const QString& path, const QString& error) {
        EXPECT_EQ(path, QStringLiteral("PG:") + typed);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        opened = true;
    });
    answer(typed);
    ASSERT_TRUE(until([&] { return opened && w.coverage()->sharedWatcher()->listening(); }, kLimitMs));
    EXPECT_TRUE(offered.isEmpty());
    EXPECT_FALSE(w.coverage()->layer().empty());
    EXPECT_FALSE(w.windowTitle().contains(QStringLiteral("hunter2"))) << w.windowTitle().toStdString();
    EXPECT_TRUE(w.windowTitle().contains(QStringLiteral("dbname=coverage"))) << w.windowTitle().toStdString();
    const QString kept = QSettings(options().settingsFile, QSettings::IniFormat).value(QStringLiteral("coverage/database")).toString();
    EXPECT_TRUE(kept.contains(QStringLiteral("dbname=coverage"))) << kept.toStdString();
    EXPECT_FALSE(kept.contains(QStringLiteral("hunter2"))) << kept.toStdString();

    answer(QString());
    EXPECT_EQ(offered, kept);
}

// A database that cannot be read is said in the window, without the
// password; the map drawn before stays, and so does its listening.
TEST_F(CoverageMapShared, ADatabaseThatCannotBeReadIsSaidAndTheMapDrawnStays)
{
    upload("a.KLF", 48, 52.52, 13.40);
    MapWindow w(options());
    w.show();
    ASSERT_NO_FATAL_FAILURE(open(w));
    const size_t cells = w.coverage()->layer().shownCells();
    const QString title = w.windowTitle();
    struct Case
    {
        const char* legend;
        QString source;
        const char* said;
    };
    const Case cases[] = {
        {"no server", QStringLiteral("PG:host=%1 dbname=coverage password=hunter2").arg(dir.filePath(QStringLiteral("nowhere"))),
         "nowhere"},
        {"no map in it", QString::fromStdString(cluster.gdal("postgres")) + QStringLiteral(" password=hunter2"),
         "not a coverage map"},
    };
    int drawn = 0;
    QObject::connect(w.coverage(), &CoverageController::cellsChanged, [&] { ++drawn; });
    for (const Case& c : cases) {
        QString error;
        const auto k = QObject::connect(w.coverage(), &CoverageController::opened,
                                        [&](const QString&, const QString& e) { error = e; });
        w.openCoverage(c.source);
        ASSERT_TRUE(until([&] { return !error.isEmpty(); }, kLimitMs)) << c.legend;
        QObject::disconnect(k);
        EXPECT_TRUE(error.contains(QLatin1String(c.said))) << c.legend << ": " << error.toStdString();
        EXPECT_TRUE(w.statusMessage().startsWith(QStringLiteral("Could not open PG:"))) << w.statusMessage().toStdString();
        EXPECT_FALSE(w.statusMessage().contains(QStringLiteral("hunter2"))) << w.statusMessage().toStdString();
        EXPECT_EQ(w.windowTitle(), title);
        EXPECT_EQ(w.coverage()->layer().shownCells(), cells);
        EXPECT_EQ(w.coverage()->sharedWatcher()->source(), source()) << c.legend;
    }
    // It listens to the map drawn again, and reads it once back, for what it may have missed.
    upload("b.KLF", 49, 52.5205, 13.4005);
    std::string why;
    ASSERT_TRUE(waitForTheDatabase(w, drawn, why)) << why;
    EXPECT_TRUE(w.coverage()->sharedWatcher()->listening());
}

// tavrix-map PG:... --screenshot draws the shared map as it draws the
// GeoPackage of the same log; a database it cannot read is exit status 2
// and one line, never with the password.
TEST_F(CoverageMapShared, TheCommandLineDrawsASharedMapOrSaysWhyNot)
{
    upload("a.KLF", 46, 52.52, 13.40);
    const QString gpkg = dir.filePath(QStringLiteral("a.gpkg"));
    const CoverageTest::Ran made = CoverageTest::run(CoverageTest::tool("klf-coverage") + " -o '" + gpkg.toStdString()
                                                     + "' '" + path("a.KLF") + "' 2>&1");
    ASSERT_EQ(made.status, 0) << made.out;

    struct Shot
    {
        int status = -1;
        QString err;
        QImage image;
    };
    int runs = 0;
    auto shoot = [&](const QString& map) {
        const QString png = dir.filePath(QStringLiteral("shot%1.png").arg(++runs));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TAVRIX_MAP_TILE_URL"), QStringLiteral("http://127.0.0.1:9/{z}/{x}/{y}.png"));
        p.setProcessEnvironment(env);
        p.start(QString::fromStdString(CoverageTest::tool("tavrix-map")),
                {QStringLiteral("--grid"), QStringLiteral("--settings"), dir.filePath(QStringLiteral("s%1.ini").arg(runs)),
                 QStringLiteral("--screenshot"), png, map});
        Shot s;
        if (!p.waitForFinished(kLimitMs) || p.exitStatus() != QProcess::NormalExit)
            return s;
        s.status = p.exitCode();
        s.err = QString::fromLocal8Bit(p.readAllStandardError());
        s.image = QImage(png);
        return s;
    };

    const Shot shared = shoot(source());
    ASSERT_EQ(shared.status, 0) << shared.err.toStdString();
    const Shot file = shoot(gpkg);
    ASSERT_EQ(file.status, 0) << file.err.toStdString();
    ASSERT_FALSE(shared.image.isNull());
    EXPECT_EQ(shared.image.convertToFormat(QImage::Format_RGB32), file.image.convertToFormat(QImage::Format_RGB32));
    QSet<QRgb> colours;
    for (int y = 0; y < shared.image.height(); y += 2)
        for (int x = 0; x < shared.image.width(); x += 2)
            colours.insert(shared.image.pixel(x, y));
    EXPECT_GT(colours.size(), 20) << "cells in many colours, not a bare grid";

    const Shot down = shoot(QStringLiteral("PG:host=%1 dbname=coverage password=hunter2").arg(dir.filePath(QStringLiteral("nowhere"))));
    EXPECT_EQ(down.status, 2);
    // Qt's offscreen platform has its say on standard error too.
    const QStringList ours = down.err.split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^tavrix-map: ")));
    ASSERT_EQ(ours.size(), 1) << down.err.toStdString();
    EXPECT_TRUE(ours.front().startsWith(QStringLiteral("tavrix-map: cannot open PG:"))) << down.err.toStdString();
    EXPECT_TRUE(ours.front().contains(QStringLiteral("nowhere"))) << down.err.toStdString();
    EXPECT_FALSE(down.err.contains(QStringLiteral("hunter2"))) << down.err.toStdString();
    const Shot empty = shoot(QString::fromStdString(cluster.gdal("postgres")));
    EXPECT_EQ(empty.status, 2);
    EXPECT_TRUE(empty.err.contains(QStringLiteral("not a coverage map"))) << empty.err.toStdString();
}

} // namespace
