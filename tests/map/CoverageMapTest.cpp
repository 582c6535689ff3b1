// Coverage maps in tavrix-map: a map written by the GeoPackage store, read
// back, filtered, drawn and clicked, offscreen.
#include "coverage/GdalSupport.h"
#include "coverage/GpkgCoverageStore.h"
#include "drive/DriveTestLog.h"
#include "gps/MapTestSupport.h"
#include "map/CoverageController.h"
#include "map/CoverageLayer.h"
#include "map/CoverageLegend.h"
#include "map/CoverageMapLoader.h"
#include "map/CoveragePanel.h"
#include "map/EventWait.h"
#include "map/MapView.h"
#include "map/MapWindow.h"
#include "map/TileMath.h"

#include <QComboBox>
#include <QMessageBox>
#include <QDockWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gdal_priv.h>

#include <memory>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr double kLat = 50.0875, kLon = 14.4213; // a driven cell
constexpr double kF1 = 851.0125, kF2 = 851.0375;  // MHz

// A map of cells in a square of side × side, one frequency, R1: big enough
// at a few hundred on a side that a read is still running when the test acts.
std::string writeSquare(const std::string& path, int side, double mhz)
{
    const CoverageGrid grid(50);
    DriveCoverage d;
    d.fileName = "square.KLF";
    d.sha256 = "01";
    d.route = {{kLat, kLon}, {kLat + 0.01, kLon}};
    const CoverageGrid::Cell origin = grid.cellOf(kLat, kLon);
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c) {
            auto& rec = d.cells.at({CoverageGrid::key({origin.row + r, origin.column + c}), CoverageCells::frequencyKey(mhz), 0});
            rec.histogram.add(-70 - (r + c) % 40);
            rec.drives = 1;
        }
    GpkgCoverageStore store(path, CoverageStore::Settings{});
    std::string error;
    bool already = false;
    if (!store.open(error) || !store.add(std::move(d), already, error) || !store.finish(error))
        ADD_FAILURE() << error;
    return path;
}

class CoverageMap : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const CoverageGrid grid(50);
        DriveCoverage d;
        d.fileName = "d.KLF";
        d.sha256 = "00";
        d.route = {{kLat, kLon}, {kLat + 0.01, kLon}};
        auto add = [&](double lat, double mhz, uint8_t receiver, std::initializer_list<int> readings) {
            auto& r = d.cells.at({CoverageGrid::key(grid.cellOf(lat, kLon)), CoverageCells::frequencyKey(mhz), receiver});
            for (int v : readings)
                r.histogram.add(v);
            r.drives = 1;
        };
        add(kLat, kF1, 0, {-90, -80, -70});  // median -80
        add(kLat, kF2, 0, {-60, -61, -62});  // median -61: the strongest here
        add(kLat, kF1, 1, {-110, -100});     // median -110
        add(kLat + 0.005, kF1, 1, {-95});    // another cell, R2 only
        GpkgCoverageStore store(path(), CoverageStore::Settings{});
        std::string error;
        bool already = false;
        ASSERT_TRUE(store.open(error)) << error;
        ASSERT_TRUE(store.add(std::move(d), already, error)) << error;
        ASSERT_TRUE(store.finish(error)) << error;
    }

    std::string path() const { return dir.filePath(QStringLiteral("map.gpkg")).toStdString(); }
    QString mapPath() const { return QString::fromStdString(path()); }

    CoverageLayer layer() const
    {
        std::vector<CoverageMapReader::Cell> cells;
        std::string error;
        EXPECT_TRUE(CoverageMapReader::read(path(), cells, error)) << error;
        CoverageLayer l;
        l.setCells(std::move(cells));
        return l;
    }

    MapWindow::Options options() const
    {
        MapWindow::Options o;
        o.settingsFile = dir.filePath(QStringLiteral("map.ini"));
        o.grid = true;
        o.poll = true;
        // Never the program's own map block, which end-to-end tests may be using.
        o.blockName = QString::fromStdString(uniqueBlockName("coverage"));
        return o;
    }

    QTemporaryDir dir;
};

QProgressBar* readingBar(const MapWindow& window)
{
    for (QProgressBar* b : window.findChildren<QProgressBar*>())
        if (b->accessibleName() == QStringLiteral("Reading the coverage map"))
            return b;
    return nullptr;
}

// What a window's coverage controller said, in order.
struct Opened
{
    explicit Opened(CoverageController* c)
    {
        QObject::connect(c, &CoverageController::opened, c, [this](const QString& path, const QString& error) {
            said.push_back({path, error});
        });
    }
    std::vector<std::pair<QString, QString>> said; // path, error
};

TEST_F(CoverageMap, ReceiverAndFrequencyChoicesFilterTheCells)
{
    CoverageLayer l = layer();
    EXPECT_EQ(l.frequencies(), (std::vector<double>{kF1, kF2}));
    struct Case
    {
        int receiver;
        double frequency;
        size_t cells;
    };
    for (const Case c : {Case{0, 0, 2}, Case{1, 0, 1}, Case{2, 0, 2}, Case{1, kF2, 1}, Case{2, kF2, 0}, Case{0, kF1, 2}}) {
        l.setReceiver(c.receiver);
        l.setFrequency(c.frequency);
        EXPECT_EQ(l.shownCells(), c.cells) << c.receiver << " " << c.frequency;
    }
}

// The count legend labels counts between 1 and the most, not the ends alone.
TEST(CoverageLegendValues, CountsBetweenTheEndsOnRoundStepsWithoutCrowdingTheTop)
{
    struct Case
    {
        uint64_t most;
        std::vector<uint64_t> values;
    };
    const Case cases[] = {
        {1, {1}},
        {2, {1, 2}},
        {49, {1, 2, 5, 10, 20, 49}},
        {55, {1, 2, 5, 10, 20, 55}}, // 50 would sit on 55's label
        {1000, {1, 10, 100, 1000}},
        {123456, {1, 10, 100, 1000, 10000, 123456}},
        {1000000000, {1, 100, 10000, 1000000, 100000000, 1000000000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.most);
        EXPECT_EQ(CoverageLegend::countValues(c.most), c.values);
    }
}

// A map of a few cells at given places, one frequency, R1.
std::string writeCells(const std::string& path, std::initializer_list<std::pair<double, double>> places)
{
    const CoverageGrid grid(50);
    DriveCoverage d;
    d.fileName = "places.KLF";
    d.sha256 = "02";
    for (const auto& [lat, lon] : places) {
        d.route.push_back({lat, lon});
        auto& rec = d.cells.at({CoverageGrid::key(grid.cellOf(lat, lon)), CoverageCells::frequencyKey(kF1), 0});
        rec.histogram.add(-50);
        rec.drives = 1;
    }
    GpkgCoverageStore store(path, CoverageStore::Settings{});
    std::string error;
    bool already = false;
    if (!store.open(error) || !store.add(std::move(d), already, error) || !store.finish(error))
        ADD_FAILURE() << error;
    return path;
}

// A map across ±180° is fitted to its cells, not to the whole world, and
// its cells on both sides are drawn; cells beyond 85.05°, where the base map
// ends, are said.
TEST_F(CoverageMap, AMapAcrossTheAntimeridianIsDrawnAndCellsBeyondTheBaseMapAreSaid)
{
    struct Case
    {
        const char* what;
        std::initializer_list<std::pair<double, double>> places;
        int drawn;      // cells that must be on the screen
        bool beyond;    // a notice about cells past 85.05°
    };
    const Case cases[] = {
        {"across ±180°", {{64.8000, 179.9995}, {64.8000, -179.9995}}, 2, false},
        {"north of the base map", {{64.8000, 20.0000}, {86.0000, 20.0000}, {86.0010, 20.0010}}, 1, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString map = QString::fromStdString(
            writeCells(dir.filePath(QStringLiteral("places%1.gpkg").arg(n++)).toStdString(), c.places));
        MapWindow window(options());
        window.resize(900, 700);
        window.show();
        Opened opened(window.coverage());
        window.openCoverage(map);
        ASSERT_TRUE(until([&] { return !opened.said.empty(); }, 30000));
        ASSERT_EQ(opened.said[0].second, QString());
        MapView* view = window.view();
        EXPECT_GE(view->viewport().zoom(), 12) << "fitted to the cells";
        const QImage frame = view->renderImage();
        int drawn = 0;
        for (const auto& [lat, lon] : c.places) {
            const QPointF at = view->viewport().screenFromWorld(TileMath::worldFromGeo(lat, lon)) * frame.devicePixelRatio();
            if (!frame.rect().contains(at.toPoint()))
                continue;
            const QColor shown = frame.pixelColor(at.toPoint());
            drawn += shown.red() > 200 && shown.green() < 120 && shown.blue() < 120; // -50 dBm: red through the cells' alpha
        }
        EXPECT_EQ(drawn, c.drawn);
        EXPECT_EQ(window.statusMessage().contains(QStringLiteral("2 cells of this map lie beyond 85.05°")), c.beyond)
            << window.statusMessage().toStdString();
    }
}

TEST_F(CoverageMap, AClickListsEveryFrequencyOfTheCellAndNothingWhereNotDriven)
{
    CoverageLayer l = layer();
    const QString here = l.describeAt(kLat, kLon);
    EXPECT_EQ(here.count(QLatin1Char('\n')), 2) << here.toStdString();
    EXPECT_TRUE(here.contains(QStringLiteral("851.0125 MHz R1: median -80 dBm"))) << here.toStdString();
    EXPECT_TRUE(here.contains(QStringLiteral("851.0375 MHz R1: median -61 dBm"))) << here.toStdString();
    EXPECT_TRUE(here.contains(QStringLiteral("851.0125 MHz R2: median -110 dBm"))) << here.toStdString();
    // Percentiles read "10% -110", not "10%% -110".
    EXPECT_TRUE(here.contains(QRegularExpression(QStringLiteral("median -110 dBm, 10% -1\\d\\d, 90% -1\\d\\d,"))))
        << here.toStdString();
    l.setReceiver(2);
    EXPECT_FALSE(l.describeAt(kLat, kLon).contains(QStringLiteral("R1")));
    EXPECT_TRUE(l.describeAt(kLat - 0.01, kLon).isEmpty());
}

// The window opens the map, colours the driven cell by its strongest median
// and leaves the ground around it bare; the choices and a click work.
TEST_F(CoverageMap, TheWindowDrawsFiltersAndDescribesTheCells)
{
    MapWindow window(options());
    window.resize(900, 700);
    window.show();
    Opened opened(window.coverage());
    window.openCoverage(mapPath());
    // The read runs on a worker; the window says so meanwhile.
    QProgressBar* reading = readingBar(window);
    ASSERT_TRUE(reading);
    EXPECT_TRUE(reading->isVisibleTo(&window));
    ASSERT_TRUE(until([&] { return !opened.said.empty(); }, 30000));
    ASSERT_EQ(opened.said.size(), 1u);
    EXPECT_EQ(opened.said[0], std::make_pair(mapPath(), QString()));
    EXPECT_FALSE(reading->isVisibleTo(&window));
    EXPECT_TRUE(window.windowTitle().endsWith(QStringLiteral("map.gpkg"))) << window.windowTitle().toStdString();
    CoverageController* c = window.coverage();
    EXPECT_TRUE(c->dock()->isVisibleTo(&window));
    for (QComboBox* box : {c->panel()->figureBox(), c->panel()->receiverBox(), c->panel()->frequencyBox()})
        EXPECT_FALSE(box->accessibleName().isEmpty());
    EXPECT_EQ(c->panel()->frequencyBox()->count(), 3);

    MapView* view = window.view();
    view->viewport().setZoom(17);
    view->viewport().setCentre(TileMath::worldFromGeo(kLat, kLon));
    const QImage frame = view->renderImage();
    const QPointF centre = view->viewport().screenFromWorld(TileMath::worldFromGeo(kLat, kLon));
    const QColor driven = frame.pixelColor((centre * frame.devicePixelRatio()).toPoint());
    const QColor bare = frame.pixelColor(((centre + QPointF(0, 150)) * frame.devicePixelRatio()).toPoint());
    const QColor strongest = QColor::fromRgb(RssiPalette().argb(-61));
    EXPECT_GT(driven.red(), bare.red() - 1);
    EXPECT_LT(std::abs(driven.green() - (strongest.green() * 190 + bare.green() * 65) / 255), 3);
    EXPECT_LT(std::abs(driven.blue() - (strongest.blue() * 190 + bare.blue() * 65) / 255), 3);

    c->panel()->receiverBox()->setCurrentIndex(2); // R2
    EXPECT_EQ(c->layer().receiver(), 2);
    EXPECT_EQ(c->layer().shownCells(), 2u);
    c->panel()->figureBox()->setCurrentIndex(3);
    EXPECT_EQ(c->layer().figure(), CoverageLayer::Figure::Count);

    emit view->clickedAt(TileMath::worldFromGeo(kLat, kLon));
    const QString text = c->panel()->findChild<QPlainTextEdit*>()->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("851.0125 MHz R2: median -110 dBm"))) << text.toStdString();
    emit view->clickedAt(TileMath::worldFromGeo(kLat - 0.01, kLon));
    EXPECT_EQ(c->panel()->findChild<QPlainTextEdit*>()->toPlainText(), QStringLiteral("Not driven."));
}

// Each frequency offered with the samples and cells measured on it, both
// receivers together: F1 has 3 + 2 samples in one cell and 1 in another.
TEST_F(CoverageMap, EachFrequencyIsOfferedWithItsSamplesAndCells)
{
    const CoverageLayer l = layer();
    const struct
    {
        double mhz;
        uint64_t samples;
        size_t cells;
        const char* offered;
    } want[] = {{kF1, 6, 2, "851.0125 MHz: 6 samples, 2 cells"}, {kF2, 3, 1, "851.0375 MHz: 3 samples, 1 cell"}};
    ASSERT_EQ(l.frequencySummaries().size(), std::size(want));
    CoveragePanel panel;
    panel.setFrequencies(l.frequencySummaries());
    ASSERT_EQ(panel.frequencyBox()->count(), int(std::size(want)) + 1);
    for (size_t i = 0; i < std::size(want); ++i) {
        const CoverageLayer::FrequencySummary& f = l.frequencySummaries()[i];
        EXPECT_EQ(f.mhz, want[i].mhz);
        EXPECT_EQ(f.samples, want[i].samples) << f.mhz;
        EXPECT_EQ(f.cells, want[i].cells) << f.mhz;
        EXPECT_EQ(panel.frequencyBox()->itemText(int(i) + 1).toStdString(), want[i].offered);
        EXPECT_EQ(panel.frequencyBox()->itemData(int(i) + 1).toDouble(), want[i].mhz);
    }
}

// The darkest and lightest of the pixels across a cell's west edge, at
// its middle: where an outline would be.
std::pair<int, int> acrossWestEdge(MapView* view, const CoverageGrid::Bounds& b)
{
    const QImage frame = view->renderImage();
    const QPointF edge = view->viewport().screenFromWorld(TileMath::worldFromGeo((b.south + b.north) / 2, b.west));
    int darkest = 255, lightest = 0;
    for (int dx = -4; dx <= 4; ++dx) {
        const QColor c = frame.pixelColor(((edge + QPointF(dx, 0)) * frame.devicePixelRatio()).toPoint());
        darkest = std::min(darkest, c.lightness());
        lightest = std::max(lightest, c.lightness());
    }
    return {darkest, lightest};
}

// A click outlines the cell and lists its figures with their first and last
// times, marking the row that colours it; the list follows the receiver
// choice with the cell still outlined; a click where nothing was driven,
// or another map, leaves nothing selected and nothing listed.
TEST_F(CoverageMap, AClickedCellIsOutlinedAndItsFiguresFollowTheChoices)
{
    const CoverageGrid grid(50);
    const CoverageGrid::Cell cell = grid.cellOf(kLat, kLon);
    const CoverageGrid::Bounds bounds = grid.bounds(cell);
    DriveCoverage d;
    d.fileName = "t.KLF";
    d.sha256 = "02";
    d.route = {{kLat, kLon}, {kLat + 0.01, kLon}};
    const int64_t t0 = 1714557600000; // 2024-05-01 10:00:00 UTC
    auto add = [&](double mhz, uint8_t receiver, int dbm, int64_t first, int64_t last) {
        auto& r = d.cells.at({CoverageGrid::key(cell), CoverageCells::frequencyKey(mhz), receiver});
        r.histogram.add(dbm);
        r.firstMs = first;
        r.lastMs = last;
        r.drives = 1;
    };
    add(kF1, 0, -80, t0, t0 + 300000);
    add(kF2, 0, -61, t0 + 1000, t0 + 2000);
    add(kF1, 1, -100, t0 + 60000, t0 + 61000);
    const std::string timed = dir.filePath(QStringLiteral("timed.gpkg")).toStdString();
    {
        GpkgCoverageStore store(timed, CoverageStore::Settings{});
        std::string error;
        bool already = false;
        ASSERT_TRUE(store.open(error) && store.add(std::move(d), already, error) && store.finish(error)) << error;
    }
    MapWindow window(options());
    window.resize(900, 700);
    window.show();
    Opened opened(window.coverage());
    window.openCoverage(QString::fromStdString(timed));
    ASSERT_TRUE(until([&] { return opened.said.size() == 1; }, 30000));
    CoverageController* c = window.coverage();
    auto text = [c] { return c->panel()->findChild<QPlainTextEdit*>()->toPlainText(); };
    MapView* view = window.view();
    view->viewport().setZoom(17);
    view->viewport().setCentre(TileMath::worldFromGeo(kLat, kLon));
    const auto [darkBefore, lightBefore] = acrossWestEdge(view, bounds);

    emit view->clickedAt(TileMath::worldFromGeo(kLat, kLon));
    EXPECT_TRUE(c->layer().hasSelection());
    const auto [dark, light] = acrossWestEdge(view, bounds);
    EXPECT_LT(dark, 40) << "no dark outline; before: " << darkBefore;
    EXPECT_GT(light, 215) << "no light outline; before: " << lightBefore;
    EXPECT_GT(darkBefore, 40);
    const QStringList lines = text().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3) << text().toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("851.0125 MHz R1: median -80 dBm")));
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("first 2024-05-01 10:00:00, last 2024-05-01 10:05:00 UTC")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("851.0375 MHz R1: median -61 dBm")));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("(colours the cell)"))) << lines[2].toStdString();
    EXPECT_FALSE(lines[0].contains(QStringLiteral("colours")) || lines[1].contains(QStringLiteral("colours")));

    c->panel()->receiverBox()->setCurrentIndex(2); // R2
    EXPECT_EQ(text().toStdString(),
              "851.0125 MHz R2: median -100 dBm, 10% -100, 90% -100, -100 to -100 dBm, mean -100.0 dBm, 1 samples, 1 drives,"
              " first 2024-05-01 10:01:00, last 2024-05-01 10:01:01 UTC");
    EXPECT_LT(acrossWestEdge(view, bounds).first, 40) << "the cell stays outlined";
    c->panel()->receiverBox()->setCurrentIndex(0);
    c->panel()->frequencyBox()->setCurrentIndex(1); // F1: R1's -80 colours it
    EXPECT_TRUE(text().split(QLatin1Char('\n')).value(0).endsWith(QStringLiteral("(colours the cell)"))) << text().toStdString();

    emit view->clickedAt(TileMath::worldFromGeo(kLat - 0.01, kLon));
    EXPECT_EQ(text(), QStringLiteral("Not driven."));
    EXPECT_FALSE(c->layer().hasSelection());
    EXPECT_GT(acrossWestEdge(view, bounds).first, 40) << "the outline went with the selection";

    emit view->clickedAt(TileMath::worldFromGeo(kLat, kLon));
    ASSERT_FALSE(text().isEmpty());
    window.openCoverage(mapPath());
    ASSERT_TRUE(until([&] { return opened.said.size() == 2; }, 30000));
    EXPECT_TRUE(text().isEmpty()) << text().toStdString();
    EXPECT_FALSE(c->layer().hasSelection());
}

// The reader stops when told to, and says so: the window drops a read when
// the user goes on to another file.
TEST_F(CoverageMap, AReadToldToStopStopsWithNoCells)
{
    std::vector<CoverageMapReader::Cell> cells;
    std::string error;
    std::vector<std::pair<uint64_t, uint64_t>> told;
    EXPECT_TRUE(CoverageMapReader::read(path(), cells, error, [&](uint64_t done, uint64_t total) {
        told.push_back({done, total});
        return true;
    }));
    EXPECT_EQ(cells.size(), 4u);
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back(), std::make_pair(uint64_t(4), uint64_t(4)));
    EXPECT_FALSE(CoverageMapReader::read(path(), cells, error, [](uint64_t, uint64_t) { return false; }));
    EXPECT_TRUE(cells.empty());
    EXPECT_FALSE(error.empty());
}

// A failed read says why in the status bar; the map drawn before stays.
TEST_F(CoverageMap, AFailedReadSaysWhyAndKeepsTheMapShown)
{
    const QString text = dir.filePath(QStringLiteral("notes.gpkg"));
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a GeoPackage\n");
    }
    const QString empty = dir.filePath(QStringLiteral("empty.gpkg")); // GDAL opens it: no cells layer
    {
        GdalSupport::init();
        GDALDriver* gpkg = GetGDALDriverManager()->GetDriverByName("GPKG");
        ASSERT_TRUE(gpkg);
        std::unique_ptr<GDALDataset> ds(gpkg->Create(empty.toUtf8().constData(), 0, 0, 0, GDT_Unknown, nullptr));
        ASSERT_TRUE(ds);
        ASSERT_TRUE(ds->CreateLayer("routes", nullptr, wkbLineString, nullptr));
    }
    MapWindow window(options());
    Opened opened(window.coverage());
    window.openCoverage(mapPath());
    ASSERT_TRUE(until([&] { return opened.said.size() == 1; }, 30000));
    const QString title = window.windowTitle();
    for (const QString& bad : {dir.filePath(QStringLiteral("missing.gpkg")), text, empty}) {
        const size_t before = opened.said.size();
        window.openCoverage(bad);
        ASSERT_TRUE(until([&] { return opened.said.size() == before + 1; }, 30000)) << bad.toStdString();
        EXPECT_EQ(opened.said.back().first, bad);
        EXPECT_FALSE(opened.said.back().second.isEmpty()) << bad.toStdString();
        EXPECT_EQ(window.statusMessage(), QStringLiteral("Could not open %1: %2").arg(bad, opened.said.back().second));
        // Said whole where the status bar would cut it, without stopping the window.
        QMessageBox* box = nullptr;
        for (QMessageBox* b : window.findChildren<QMessageBox*>(QStringLiteral("coverageOpenError")))
            box = b->text().contains(bad) ? b : box;
        ASSERT_TRUE(box) << bad.toStdString();
        EXPECT_EQ(box->text(), window.statusMessage());
        EXPECT_EQ(box->windowModality(), Qt::NonModal);
        EXPECT_FALSE(readingBar(window)->isVisibleTo(&window));
        EXPECT_EQ(window.coverage()->layer().shownCells(), 2u) << bad.toStdString();
        EXPECT_EQ(window.windowTitle(), title);
    }
    EXPECT_TRUE(opened.said.back().second.contains(QStringLiteral("not a coverage map"))) << opened.said.back().second.toStdString();
}

// The latest file asked for wins: a map still being read when another map
// or a drive is opened is dropped, whichever read ends first.
TEST_F(CoverageMap, ANewerFileWinsOverAMapStillBeingRead)
{
    const QString big = QString::fromStdString(writeSquare(dir.filePath(QStringLiteral("big.gpkg")).toStdString(), 300, kF2));
    MapWindow window(options());
    Opened opened(window.coverage());
    window.openCoverage(big);
    window.openCoverage(mapPath());
    ASSERT_TRUE(until([&] { return !opened.said.empty(); }, 30000));
    ASSERT_TRUE(until([&] { return !window.coverage()->reading(); }, 30000));
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(opened.said.size(), 1u) << "the dropped read says nothing";
    EXPECT_EQ(opened.said[0], std::make_pair(mapPath(), QString()));
    EXPECT_EQ(window.coverage()->layer().frequencies(), (std::vector<double>{kF1, kF2}));

    // A drive opened while a map is read: the map never comes.
    DriveTestLog log;
    log.header(0x03).gps(40.5, -74.4, 0).table({{0, 4, -80}}).gps(40.5005, -74.3985, 4);
    const QString drive = QString::fromStdString(log.write(dir.filePath(QStringLiteral("d.KLF")).toStdString()));
    bool driven = false;
    QObject::connect(window.loader(), &DriveLoader::finished, &window, [&] { driven = true; });
    window.openCoverage(big);
    window.openDrive(drive);
    EXPECT_FALSE(readingBar(window)->isVisibleTo(&window));
    ASSERT_TRUE(until([&] { return driven && !window.coverage()->reading(); }, 30000));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(opened.said.size(), 1u);
    EXPECT_EQ(window.coverage()->layer().frequencies(), (std::vector<double>{kF1, kF2})) << "still the map read before";
}

// Closing the window while a big map is read drops the read: nothing comes
// of it after, and the window goes with its worker joined.
TEST_F(CoverageMap, ClosingTheWindowDuringAReadDropsItAndJoinsTheWorker)
{
    const QString big = QString::fromStdString(writeSquare(dir.filePath(QStringLiteral("big.gpkg")).toStdString(), 300, kF2));
    auto window = std::make_unique<MapWindow>(options());
    window->show();
    Opened opened(window->coverage());
    window->openCoverage(big);
    ASSERT_TRUE(until([&] { return window->coverage()->progress() > 0 || !opened.said.empty(); }, 30000));
    // A machine under load may read it whole before the test closes the window.
    const size_t ended = opened.said.size();
    EXPECT_TRUE(window->close());
    ASSERT_TRUE(until([&] { return !window->coverage()->reading(); }, 30000));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(opened.said.size(), ended);
    EXPECT_EQ(window->coverage()->layer().empty(), ended == 0);
    window.reset();
}

// The loader on its own: the layer comes ready, with the map's frequencies,
// bounds and the progress at its end.
TEST_F(CoverageMap, TheLoaderHandsOverTheLayerReady)
{
    const QString square = QString::fromStdString(writeSquare(dir.filePath(QStringLiteral("sq.gpkg")).toStdString(), 3, kF2));
    CoverageMapLoader loader;
    int finished = 0;
    QObject::connect(&loader, &CoverageMapLoader::finished, [&] { ++finished; });
    loader.start(square);
    ASSERT_TRUE(until([&] { return finished == 1; }, 30000));
    CoverageMapLoader::Result r = loader.takeResult();
    EXPECT_EQ(r.path, square);
    EXPECT_TRUE(r.error.isEmpty()) << r.error.toStdString();
    EXPECT_EQ(r.layer.shownCells(), 9u);
    EXPECT_EQ(r.frequencies, std::vector<double>{kF2});
    EXPECT_TRUE(r.worldBounds.contains(TileMath::worldFromGeo(kLat + 0.0001, kLon + 0.0001)));
    EXPECT_DOUBLE_EQ(loader.progress(), 1.0);

    loader.start(square);
    loader.cancel();
    ASSERT_TRUE(until([&] { return !loader.running(); }, 30000));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(finished, 1) << "a cancelled read says nothing";
}

// A coverage map alone has no serial number nor points: the status fields
// name the map and count the cells it shows, as the choices change.
TEST_F(CoverageMap, TheStatusFieldsCountTheMapsCellsNotPoints)
{
    MapWindow window(options());
    Opened opened(window.coverage());
    window.openCoverage(mapPath());
    ASSERT_TRUE(until([&] { return !opened.said.empty(); }, 30000));
    const QString name = QFileInfo(mapPath()).fileName();
    EXPECT_EQ(window.info(), QStringLiteral("Coverage map  2 cell(s)  %1").arg(name));
    window.coverage()->panel()->receiverBox()->setCurrentIndex(1); // R1
    EXPECT_EQ(window.info(), QStringLiteral("Coverage map  1 cell(s)  %1").arg(name));
}

// The read's progress comes as signals, rising to the end before `finished`.
TEST_F(CoverageMap, TheLoaderSaysItsProgressUpToTheEnd)
{
    const QString square = QString::fromStdString(writeSquare(dir.filePath(QStringLiteral("sq.gpkg")).toStdString(), 40, kF2));
    CoverageMapLoader loader;
    std::vector<double> said;
    bool finished = false;
    QObject::connect(&loader, &CoverageMapLoader::progressChanged, [&](double done) { said.push_back(done); });
    QObject::connect(&loader, &CoverageMapLoader::finished, [&] {
        finished = true;
        EXPECT_FALSE(said.empty());
        EXPECT_TRUE(std::is_sorted(said.begin(), said.end()));
        EXPECT_DOUBLE_EQ(said.back(), 1.0);
    });
    loader.start(square);
    ASSERT_TRUE(until([&] { return finished; }, 30000));
    EXPECT_EQ(loader.takeResult().layer.shownCells(), 1600u);
}

} // namespace
