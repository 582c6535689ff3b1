// tavrix-map on a coverage map with --area and --threshold: the map's
// acceptance tiles and running figures, equal to klf-report's run on the
// same map (a GeoPackage, or a shared map in a real PostgreSQL with PostGIS
// that other vehicles upload to while the window is open).
#include "ReportOptions.h"
#include "ReportRun.h"
#include "coverage/PgCluster.h"
#include "gps/MapTestSupport.h"
#include "map/ReportFiguresCheck.h"
#include "map/AcceptancePanel.h"
#include "map/CoverageController.h"
#include "map/CoveragePanel.h"
#include "map/EventWait.h"
#include "map/FollowController.h"
#include "map/MapView.h"
#include "map/MapViewport.h"
#include "map/MapWindow.h"
#include "map/SharedMapWatcher.h"

#include <QComboBox>
#include <QDockWidget>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <optional>

namespace {

constexpr int kLimitMs = 120000; // a safety net, never a delay
constexpr double kThresholdDbm = -85;
constexpr uint64_t kMinSamples = 3;

// Vehicle A drives north from here; B a parallel street about 200 m east.
constexpr double kLatitude = 52.52, kLongitudeA = 13.40, kLongitudeB = 13.403;

// An area over both streets and ground west of them that nobody drives.
QString writeArea(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral(R"({"type": "FeatureCollection", "features": [{"type": "Feature", "properties": {},
        "geometry": {"type": "Polygon", "coordinates": [[[13.3975, 52.5195], [13.4045, 52.5195], [13.4045, 52.5330],
        [13.3975, 52.5330], [13.3975, 52.5195]]]}}]})").toUtf8());
    return path;
}

struct Report
{
    int status = -1;
    std::string err;
    QJsonArray sections;
};

// klf-report --json on the map as it stands now.
Report report(const QString& map, const QString& area, bool pooled, std::optional<double> tile, const QString& json)
{
    ReportOptions o;
    o.inputs = {map.toStdString()};
    o.area = area.toStdString();
    o.threshold = kThresholdDbm;
    o.tileMetres = tile;
    o.minSamples = kMinSamples;
    o.poolReceivers = pooled;
    o.json = json.toStdString();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Report r;
    r.status = ReportRun::run(o, out, err);
    std::rewind(err);
    char line[1024];
    while (std::fgets(line, sizeof line, err))
        r.err += line;
    std::fclose(out);
    std::fclose(err);
    QFile f(json);
    if (r.status == ReportRun::kExitOk && f.open(QIODevice::ReadOnly))
        r.sections = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("sections")).toArray();
    return r;
}

class MapAcceptance : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString path(const QString& name) const { return dir.filePath(name); }

    std::string drive(const QString& name, unsigned seed, double longitude) const
    {
        return CoverageTest::writeDrive(path(name).toStdString(), seed, kLatitude, longitude, 0.0002, 0.0001, 60);
    }

    MapWindow::Options options() const
    {
        MapWindow::Options o;
        o.settingsFile = path(QStringLiteral("map.ini"));
        o.grid = true;
        o.poll = true;
        o.blockName = QString::fromStdString(uniqueBlockName("mapacceptance"));
        return o;
    }

    // As tavrix-map's command line makes them: klf-report's defaults, the map's cells for tiles.
    FollowController::Options test(std::optional<double> tile = std::nullopt) const
    {
        ReportOptions r;
        r.threshold = kThresholdDbm;
        r.minSamples = kMinSamples;
        FollowController::Options o;
        o.acceptance = true;
        o.tileGiven = tile.has_value();
        o.tiler = r.tilerSettings(tile.value_or(100));
        o.confidence = r.confidence / 100;
        std::string why;
        EXPECT_TRUE(o.area.read(area.toStdString(), why)) << why;
        return o;
    }

    // Every receiver, with all frequencies chosen and with each frequency
    // the map holds: the window's section is the report's; a frequency the
    // receiver never had in the area has no report section, nor a driven tile.
    void expectTheReports(MapWindow& w, const QString& map, std::optional<double> tile)
    {
        CoveragePanel* choices = w.coverage()->panel();
        ASSERT_GT(choices->frequencyBox()->count(), 2);
        int compared = 0;
        for (int receiver : {1, 2, 0}) {
            const Report r = report(map, area, receiver == 0, tile, path(QStringLiteral("report.json")));
            ASSERT_EQ(r.status, ReportRun::kExitOk) << r.err;
            choices->receiverBox()->setCurrentIndex(choices->receiverBox()->findData(receiver));
            for (int i = 0; i < choices->frequencyBox()->count(); ++i) {
                choices->frequencyBox()->setCurrentIndex(i);
                const double mhz = choices->frequencyBox()->currentData().toDouble();
                SCOPED_TRACE("receiver " + std::to_string(receiver) + ", " + std::to_string(mhz) + " MHz");
                const auto& s = w.follower()->section();
                bool inReport = false;
                for (const QJsonValue& v : r.sections)
                    inReport |= std::fabs(v.toObject().value(QStringLiteral("frequency_mhz")).toDouble() - mhz) < 1e-6
                                && v.toObject().value(QStringLiteral("receiver"))
                                       == (receiver ? QJsonValue(receiver) : QJsonValue(QStringLiteral("both")));
                if (mhz > 0 && !inReport) {
                    EXPECT_TRUE(!s || s->figures.tilesInArea == s->figures.tilesNotDriven);
                    continue;
                }
                ASSERT_TRUE(s);
                EXPECT_EQ(s->receiver, receiver);
                if (mhz > 0) {
                    EXPECT_NEAR(s->frequencyMHz, mhz, 1e-6);
                }
                expectReportsFigures(*s, r.sections, false);
                ++compared;
                EXPECT_EQ(w.follower()->layer().tileCount(), s->tiles.size());
                EXPECT_TRUE(w.follower()->panel()->testedLabel()->text().startsWith(QString::number(s->figures.tilesTested)));
            }
        }
        EXPECT_GT(compared, 6);
    }

    // Opens the map and waits for its first tiles, or why there are none.
    QString open(MapWindow& w, const QString& map, const FollowController::Options& o)
    {
        w.follower()->testMaps(o);
        std::optional<QString> said;
        const auto c = QObject::connect(w.follower(), &FollowController::mapTested, [&](const QString& e) { said = e; });
        w.openCoverage(map);
        EXPECT_TRUE(until([&] { return said && !w.follower()->testingMap(); }, kLimitMs));
        QObject::disconnect(c);
        return said.value_or(QStringLiteral("never tested"));
    }

    QTemporaryDir dir;
    QString area = writeArea(dir.filePath(QStringLiteral("area.geojson")));
};

// A GeoPackage of two drives: the tiles are the map's cells unless --tile
// says larger, and the figures are the report's; a tile smaller than the
// cells is refused in klf-report's words.
TEST_F(MapAcceptance, AMapFilesFiguresAreTheReportsAndATooSmallTileIsRefusedAsTheReportRefusesIt)
{
    const QString gpkg = path(QStringLiteral("fleet.gpkg"));
    const CoverageTest::Ran made = CoverageTest::run(CoverageTest::tool("klf-coverage") + " -o '" + gpkg.toStdString() + "' '"
                                                     + drive(QStringLiteral("a.KLF"), 51, kLongitudeA) + "' '"
                                                     + drive(QStringLiteral("b.KLF"), 52, kLongitudeB) + "' 2>&1");
    ASSERT_EQ(made.status, 0) << made.out;

    for (const std::optional<double> tile : {std::optional<double>(), std::optional<double>(150)}) {
        SCOPED_TRACE(tile ? "--tile 150" : "the map's cells");
        MapWindow w(options());
        w.show();
        const QString error = open(w, gpkg, test(tile));
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
        EXPECT_EQ(w.follower()->testedMap(), gpkg);
        EXPECT_TRUE(w.follower()->dock()->isVisible());
        EXPECT_FALSE(w.follower()->panel()->nearestShown());
        ASSERT_TRUE(w.follower()->section());
        EXPECT_GT(w.follower()->section()->figures.tilesTested, 0u);
        EXPECT_GT(w.follower()->section()->figures.tilesNotDriven, 0u);
        expectTheReports(w, gpkg, tile);
        if (tile)
            continue;
        // A map that cannot be opened leaves this one drawn, with its tiles.
        const size_t tiles = w.follower()->layer().tileCount();
        std::optional<QString> refused;
        bool retested = false;
        const auto o = QObject::connect(w.coverage(), &CoverageController::opened,
                                        [&](const QString&, const QString& e) { refused = e; });
        const auto t = QObject::connect(w.follower(), &FollowController::mapTested,
                                        [&](const QString& e) { retested = e.isEmpty(); });
        w.openCoverage(path(QStringLiteral("nowhere.gpkg")));
        ASSERT_TRUE(until([&] { return refused && retested && !w.follower()->testingMap(); }, kLimitMs));
        QObject::disconnect(o);
        QObject::disconnect(t);
        EXPECT_FALSE(refused->isEmpty());
        EXPECT_EQ(w.coverage()->path(), gpkg);
        EXPECT_EQ(w.follower()->testedMap(), gpkg);
        EXPECT_EQ(w.follower()->layer().tileCount(), tiles);
        EXPECT_TRUE(w.follower()->dock()->isVisible());
    }

    MapWindow w(options());
    const QString error = open(w, gpkg, test(20));
    const Report refused = report(gpkg, area, false, 20, path(QStringLiteral("refused.json")));
    ASSERT_EQ(refused.status, ReportRun::kExitBadInput);
    EXPECT_EQ("klf-report: " + error.toStdString() + "\n", refused.err);
    EXPECT_FALSE(w.follower()->section());
    EXPECT_EQ(w.follower()->layer().tileCount(), 0u);
    EXPECT_TRUE(w.follower()->panel()->channelLabel()->text().contains(error)) << w.follower()->panel()->channelLabel()->text().toStdString();
}

// tavrix-map MAP.gpkg --area --threshold --screenshot draws the tiles over
// the map; the options go with a map or --follow only, and a tile smaller
// than the map's cells is a usage error said as klf-report says it.
TEST_F(MapAcceptance, TheCommandLineTestsAMapOrSaysWhyNot)
{
    const QString gpkg = path(QStringLiteral("a.gpkg"));
    const std::string log = drive(QStringLiteral("a.KLF"), 53, kLongitudeA);
    const CoverageTest::Ran made =
        CoverageTest::run(CoverageTest::tool("klf-coverage") + " -o '" + gpkg.toStdString() + "' '" + log + "' 2>&1");
    ASSERT_EQ(made.status, 0) << made.out;

    struct Shot
    {
        int status = -1;
        QString err;
        QImage image;
    };
    int runs = 0;
    auto shoot = [&](QStringList args) {
        const QString png = path(QStringLiteral("shot%1.png").arg(++runs));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        args << QStringLiteral("--grid") << QStringLiteral("--settings") << path(QStringLiteral("s%1.ini").arg(runs))
             << QStringLiteral("--screenshot") << png;
        p.start(QString::fromStdString(CoverageTest::tool("tavrix-map")), args);
        Shot s;
        if (!p.waitForFinished(kLimitMs) || p.exitStatus() != QProcess::NormalExit)
            return s;
        s.status = p.exitCode();
        s.err = QString::fromLocal8Bit(p.readAllStandardError());
        s.image = QImage(png);
        return s;
    };
    const QStringList test = {QStringLiteral("--area"), area, QStringLiteral("--threshold"), QString::number(kThresholdDbm),
                              QStringLiteral("--min-samples"), QString::number(kMinSamples)};

    const Shot plain = shoot({gpkg});
    ASSERT_EQ(plain.status, 0) << plain.err.toStdString();
    const Shot tested = shoot(QStringList{gpkg} + test);
    ASSERT_EQ(tested.status, 0) << tested.err.toStdString();
    ASSERT_FALSE(tested.image.isNull());
    // The area reaches beyond the cells: the tiles change the picture there.
    EXPECT_NE(tested.image.convertToFormat(QImage::Format_RGB32), plain.image.convertToFormat(QImage::Format_RGB32));

    const Report refused = report(gpkg, area, false, 20, path(QStringLiteral("refused.json")));
    struct Case
    {
        const char* legend;
        QStringList args;
        QString said;
    };
    const Case cases[] = {
        {"a log", QStringList{QString::fromStdString(log)} + test, QStringLiteral("--threshold goes with --follow or a coverage map")},
        {"no map", test, QStringLiteral("--threshold goes with --follow or a coverage map")},
        {"no threshold", {gpkg, QStringLiteral("--area"), area}, QStringLiteral("--area needs --threshold")},
        {"a tile smaller than the cells", QStringList{gpkg} + test + QStringList{QStringLiteral("--tile"), QStringLiteral("20")},
         QString::fromStdString(refused.err).replace(QStringLiteral("klf-report: "), QStringLiteral("tavrix-map: ")).trimmed()},
    };
    for (const Case& c : cases) {
        const Shot s = shoot(c.args);
        EXPECT_EQ(s.status, 1) << c.legend << ": " << s.err.toStdString();
        EXPECT_TRUE(s.err.contains(c.said)) << c.legend << ": " << s.err.toStdString() << " lacks " << c.said.toStdString();
    }
}

class SharedMapAcceptance : public MapAcceptance
{
protected:
    void SetUp() override
    {
        MapAcceptance::SetUp();
        const std::string why = cluster.start();
        if (!why.empty())
            GTEST_SKIP() << why;
        const CoverageTest::Ran db = cluster.sql("CREATE DATABASE coverage");
        ASSERT_EQ(db.status, 0) << db.out;
    }

    QString source() const { return QString::fromStdString(cluster.gdal("coverage")); }

    // A vehicle's upload, committed when it returns.
    void upload(const QString& name, unsigned seed, double longitude)
    {
        const CoverageTest::Ran r = CoverageTest::run(CoverageTest::tool("klf-coverage") + " --db '" + cluster.gdal("coverage")
                                                      + "' '" + drive(name, seed, longitude) + "' 2>&1");
        ASSERT_EQ(r.status, 0) << r.out;
    }

    PgCluster cluster;
};

// Another vehicle's upload commits while the window shows the shared
// map's tiles: they and the figures are read again by themselves, equal to
// the report's on the database then, and the view and choices stay.
TEST_F(SharedMapAcceptance, AnotherVehiclesUploadUpdatesTheTilesAndFiguresToTheReportsWithTheViewKept)
{
    upload(QStringLiteral("a.KLF"), 54, kLongitudeA);
    MapWindow w(options());
    w.show();
    const QString error = open(w, source(), test());
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_TRUE(until([&] { return w.coverage()->sharedWatcher()->listening(); }, kLimitMs));
    EXPECT_FALSE(w.follower()->panel()->nearestShown());
    expectTheReports(w, source(), std::nullopt);

    CoveragePanel* choices = w.coverage()->panel();
    choices->receiverBox()->setCurrentIndex(choices->receiverBox()->findData(2));
    choices->frequencyBox()->setCurrentIndex(0);
    ASSERT_TRUE(w.follower()->section());
    const double mhz = w.follower()->section()->frequencyMHz; // R2's first
    choices->frequencyBox()->setCurrentIndex(choices->frequencyBox()->findData(mhz));
    ASSERT_GT(choices->frequencyBox()->currentIndex(), 0);
    const AcceptanceFigures before = w.follower()->section()->figures;
    w.view()->viewport().setZoom(w.view()->viewport().zoom() - 1);
    const int zoom = w.view()->viewport().zoom();
    const QPointF centre = w.view()->viewport().centre();

    int changed = 0, tested = 0;
    QObject::connect(w.coverage(), &CoverageController::sharedMapChanged, [&] { ++changed; });
    QObject::connect(w.follower(), &FollowController::mapTested, [&](const QString& e) {
        EXPECT_TRUE(e.isEmpty()) << e.toStdString();
        // Only a read begun after the upload committed counts.
        tested += changed > 0;
    });
    upload(QStringLiteral("b.KLF"), 55, kLongitudeB);
    ASSERT_TRUE(until([&] { return tested > 0 && !w.follower()->testingMap(); }, kLimitMs));

    EXPECT_EQ(choices->receiverBox()->currentData().toInt(), 2);
    EXPECT_EQ(choices->frequencyBox()->currentData().toDouble(), mhz);
    EXPECT_EQ(w.view()->viewport().zoom(), zoom);
    EXPECT_EQ(w.view()->viewport().centre(), centre);
    ASSERT_TRUE(w.follower()->section());
    EXPECT_EQ(w.follower()->section()->receiver, 2);
    EXPECT_NEAR(w.follower()->section()->frequencyMHz, mhz, 1e-6);
    // B's street is new ground: fewer tiles of the area are left undriven.
    EXPECT_LT(w.follower()->section()->figures.tilesNotDriven, before.tilesNotDriven);
    expectTheReports(w, source(), std::nullopt);
}

// A burst of uploads while the tiles are read makes one more read after
// the one running, never two at once, and ends on the database's figures.
TEST_F(SharedMapAcceptance, ABurstOfChangesIsReadOnceMoreAfterTheReadRunning)
{
    upload(QStringLiteral("a.KLF"), 56, kLongitudeA);
    MapWindow w(options());
    const QString error = open(w, source(), test());
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_TRUE(until([&] { return w.coverage()->sharedWatcher()->listening(); }, kLimitMs));
    int changed = 0, tested = 0;
    QObject::connect(w.coverage(), &CoverageController::sharedMapChanged, [&] { ++changed; });
    QObject::connect(w.follower(), &FollowController::mapTested, [&](const QString&) { ++tested; });
    // The cells' reloads say the map changed twice: once now, once after the read running.
    for (int i = 0; i < 4; ++i)
        w.coverage()->reload();
    ASSERT_TRUE(until([&] { return !w.coverage()->reading() && !w.follower()->testingMap(); }, kLimitMs));
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(tested, 2);
    expectTheReports(w, source(), std::nullopt);
}

} // namespace
