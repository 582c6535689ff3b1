// Coverage maps in tavrix-map: a map written by the GeoPackage store, read
// back, filtered, drawn and clicked, offscreen.
#include "coverage/GpkgCoverageStore.h"
#include "gps/MapTestSupport.h"
#include "map/CoverageController.h"
#include "map/CoverageLayer.h"
#include "map/CoveragePanel.h"
#include "map/MapView.h"
#include "map/MapWindow.h"
#include "map/TileMath.h"

#include <QComboBox>
#include <QDockWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr double kLat = 50.0875, kLon = 14.4213; // a driven cell
constexpr double kF1 = 851.0125, kF2 = 851.0375;  // MHz

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

    CoverageLayer layer() const
    {
        std::vector<CoverageMapReader::Cell> cells;
        std::string error;
        EXPECT_TRUE(CoverageMapReader::read(path(), cells, error)) << error;
        CoverageLayer l;
        l.setCells(std::move(cells));
        return l;
    }

    QTemporaryDir dir;
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

TEST_F(CoverageMap, AClickListsEveryFrequencyOfTheCellAndNothingWhereNotDriven)
{
    CoverageLayer l = layer();
    const QString here = l.describeAt(kLat, kLon);
    EXPECT_EQ(here.count(QLatin1Char('\n')), 2) << here.toStdString();
    EXPECT_TRUE(here.contains(QStringLiteral("851.0125 MHz R1: median -80 dBm"))) << here.toStdString();
    EXPECT_TRUE(here.contains(QStringLiteral("851.0375 MHz R1: median -61 dBm"))) << here.toStdString();
    EXPECT_TRUE(here.contains(QStringLiteral("851.0125 MHz R2: median -110 dBm"))) << here.toStdString();
    l.setReceiver(2);
    EXPECT_FALSE(l.describeAt(kLat, kLon).contains(QStringLiteral("R1")));
    EXPECT_TRUE(l.describeAt(kLat - 0.01, kLon).isEmpty());
}

// The window opens the map, colours the driven cell by its strongest median
// and leaves the ground around it bare; the choices and a click work.
TEST_F(CoverageMap, TheWindowDrawsFiltersAndDescribesTheCells)
{
    MapWindow::Options o;
    o.settingsFile = dir.filePath(QStringLiteral("map.ini"));
    o.grid = true;
    o.poll = true;
    // Never the program's own map block, which end-to-end tests may be using.
    o.blockName = QString::fromStdString(uniqueBlockName("coverage"));
    MapWindow window(o);
    window.resize(900, 700);
    window.show();
    ASSERT_TRUE(window.openCoverage(QString::fromStdString(path())));
    EXPECT_FALSE(window.openCoverage(dir.filePath(QStringLiteral("missing.gpkg"))));
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

} // namespace
