// A recorded drive's scan history below the map: the time slider, the
// waterfall's cursor row and the map's marker move together, and they agree
// with the drive's fixes as the drive model places its samples.
#include "display/PaletteLegend.h"
#include "display/ScanHistory.h"
#include "display/WaterfallView.h"
#include "drive/DriveReader.h"
#include "drive/DriveTestLog.h"
#include "platform/UtcTime.h"
#include "gps/MapTestSupport.h"
#include "map/DriveHistoryPanel.h"
#include "map/DriveIndexLoader.h"
#include "map/EventWait.h"
#include "map/MapView.h"
#include "map/MapWindow.h"
#include "map/TileMath.h"
#include "map/WaterfallCursor.h"

#include <QLabel>
#include <QProgressBar>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace {

constexpr int kFixes = 300;
constexpr int kReportsPerFix = 40; // fix n is record 41 n
constexpr uint64_t kPerFix = kReportsPerFix + 1;
constexpr int kStartSecond = 8 * 3600;

class DriveHistoryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // 12 300 records: more than one stretch of the waterfall.
        DriveTestLog ci;
        ci.scanChannelList();
        DriveTestLog log;
        log.header(0x03, ci.bytes);
        int k = 0;
        for (int fix = 0; fix < kFixes; ++fix) {
            log.gpsAtSecond(40.5 + 0.0002 * fix, -74.4 + 0.0003 * fix, kStartSecond + fix);
            for (int j = 0; j < kReportsPerFix; ++j, ++k)
                log.scan({{0, k % 10, -120 + k * 7 % 80}, {1, k % 10, -100 + k % 50}});
        }
        path = QString::fromStdString(log.write(dir.filePath(QStringLiteral("drive.KLF")).toStdString()));
        DriveReader().read(path.toStdString(), samples);

        MapWindow::Options o;
        o.settingsFile = dir.filePath(QStringLiteral("tavrix-map.ini"));
        o.grid = true;
        o.blockName = QString::fromStdString(uniqueBlockName("drivehistory"));
        window = std::make_unique<MapWindow>(o);
        window->resize(1000, 800);
        window->show();
        bool loaded = false;
        QObject::connect(window->loader(), &DriveLoader::finished, window.get(), [&] { loaded = true; }, Qt::QueuedConnection);
        window->openDrive(path);
        // Indexing shows in the status bar until the history is there.
        indexingShown = window->findChild<QProgressBar*>()->isVisible();
        panel = window->history();
        ASSERT_TRUE(until([&] { return loaded && panel->isVisible() && panel->settled(); }));
    }

    // The drive model's placement of a record's first sample.
    const DriveSample& sampleAt(uint64_t record) const
    {
        for (const DriveSample& s : samples.samples)
            if (s.record == record)
                return s;
        throw std::out_of_range("no sample at that record");
    }

    QPointF markerShouldBe(double lat, double lon) const { return TileMath::worldFromGeo(lat, lon); }

    QTemporaryDir dir;
    QString path;
    RecordingSink samples;
    std::unique_ptr<MapWindow> window;
    DriveHistoryPanel* panel = nullptr;
    bool indexingShown = false;
};

QString utcText(int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz 'UTC'"));
}

TEST_F(DriveHistoryTest, TheSliderTimeAndTheMarkerAgreeWithTheDrivesFixes)
{
    QSlider* slider = panel->slider();
    EXPECT_EQ(slider->accessibleName(), QStringLiteral("Time"));
    EXPECT_FALSE(panel->timeLabel()->accessibleName().isEmpty());
    EXPECT_FALSE(panel->waterfall()->accessibleName().isEmpty());
    EXPECT_EQ(slider->maximum(), int(kFixes * kPerFix - 1));
    EXPECT_EQ(slider->singleStep(), int(kPerFix)) << "a step is a second of the drive";
    EXPECT_TRUE(indexingShown);
    EXPECT_EQ(window->findChild<QProgressBar*>()->accessibleName(), QStringLiteral("Indexing the drive"));
    EXPECT_FALSE(window->findChild<QProgressBar*>()->isVisible()) << "the index is built";

    // Opened at the first fix, before any report: the waterfall shows the
    // oldest rows, no cursor row yet.
    EXPECT_EQ(panel->cursor(), 0u);
    EXPECT_FALSE(panel->cursorRow());
    EXPECT_EQ(panel->cursorLine()->rowY(), -1);
    EXPECT_GT(panel->waterfall()->maxScrollBack(), 0);
    EXPECT_EQ(panel->waterfall()->scrollBack(), panel->waterfall()->maxScrollBack());
    ASSERT_TRUE(window->view()->marker());
    EXPECT_EQ(*window->view()->marker(), markerShouldBe(40.5, -74.4));

    struct Case
    {
        const char* what;
        uint64_t record;
        bool atFix;
    };
    const Case cases[] = {
        {"a fix", 10 * kPerFix, true},
        {"half way between two fixes", 10 * kPerFix + 20, false},
        {"a fix in the next stretch", 250 * kPerFix, true},
        {"a quarter of the way, back at the start", 3 * kPerFix + 10, false},
        {"the last fix", (kFixes - 1) * kPerFix, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        slider->setValue(int(c.record));
        ASSERT_TRUE(until([&] { return panel->settled(); }));
        EXPECT_EQ(panel->cursor(), c.record);
        double lat = 0, lon = 0;
        int64_t time = 0;
        if (c.atFix) {
            const int n = int(c.record / kPerFix);
            lat = 40.5 + 0.0002 * n;
            lon = -74.4 + 0.0003 * n;
            int64_t ms = 0;
            UtcTime::fromCivil(2004, 3, 9, 8, n / 60, n % 60, ms);
            time = ms;
        } else {
            const DriveSample& s = sampleAt(c.record);
            ASSERT_TRUE(s.placed);
            lat = s.latitude;
            lon = s.longitude;
            time = s.timeMs;
        }
        EXPECT_EQ(panel->timeLabel()->text(), utcText(time));
        ASSERT_TRUE(window->view()->marker());
        EXPECT_NEAR(window->view()->marker()->x(), markerShouldBe(lat, lon).x(), 1e-12);
        EXPECT_NEAR(window->view()->marker()->y(), markerShouldBe(lat, lon).y(), 1e-12);

        // The waterfall's cursor row: the receiver's last report at or before
        // the cursor, on the screen, with the cursor's time.
        const auto row = panel->cursorRow();
        ASSERT_TRUE(row);
        const uint64_t rowRecord = panel->recordOfRow(*row);
        EXPECT_EQ(rowRecord, c.atFix ? c.record - 1 : c.record) << "a fix record is no report";
        EXPECT_EQ(panel->history().row(*row).utcMs, sampleAt(rowRecord).timeMs);
        const int y = panel->waterfall()->cellCentre(*row, 0).y();
        EXPECT_GE(y, 0);
        EXPECT_EQ(panel->cursorLine()->rowY(), y);
    }

    // The marker is drawn where it stands, away from the legend and the
    // scale: white over black across its arm.
    window->view()->viewport().setCentre(*window->view()->marker());
    const QImage frame = window->view()->renderImage();
    const QPointF at = window->view()->viewport().screenFromWorld(*window->view()->marker());
    const QPoint arm = ((at + QPointF(11.5, 0)) * frame.devicePixelRatio()).toPoint();
    int lightest = 0, darkest = 255;
    for (int dy = -3; dy <= 3; ++dy) {
        const int l = QColor(frame.pixel(arm + QPoint(0, dy))).lightness();
        lightest = std::max(lightest, l);
        darkest = std::min(darkest, l);
    }
    EXPECT_GT(lightest, 200);
    EXPECT_LT(darkest, 150) << "its black edge";
}

// One colour for one reading: the waterfall under the map colours on the
// map's range, from the start and when it changes, and its key says so.
TEST_F(DriveHistoryTest, TheWaterfallColoursOnTheMapsRangeAndItsKeySaysSo)
{
    QSpinBox* from = nullptr;
    QSpinBox* to = nullptr;
    for (QSpinBox* box : window->findChildren<QSpinBox*>()) {
        if (box->accessibleName() == QStringLiteral("Colour range minimum"))
            from = box;
        if (box->accessibleName() == QStringLiteral("Colour range maximum"))
            to = box;
    }
    ASSERT_TRUE(from && to);
    PaletteLegend* key = panel->findChild<PaletteLegend*>();
    ASSERT_TRUE(key);
    WaterfallView* waterfall = panel->waterfall();
    for (const auto& [low, high] : {std::pair{from->value(), to->value()}, std::pair{-110, -70}, std::pair{-100, -40}}) {
        SCOPED_TRACE(std::to_string(low) + ".." + std::to_string(high));
        from->setValue(low);
        to->setValue(high);
        EXPECT_EQ(window->view()->legend(), RssiPalette(low, high));
        EXPECT_EQ(waterfall->palette(), window->view()->legend());
        EXPECT_EQ(key->bottomDbm(), low);
        EXPECT_EQ(key->topDbm(), high);
        // A cell on the screen has the map's colour of its level.
        const uint64_t row = panel->history().endRow() - 1 - uint64_t(waterfall->scrollBack());
        const int level = panel->history().levelAt(row, 0);
        const QPoint cell = waterfall->cellCentre(row, 0);
        ASSERT_NE(level, ScanHistory::kNoLevel);
        ASSERT_GE(cell.x(), 0);
        EXPECT_EQ(waterfall->image().pixel(cell), window->view()->legend().argb(level));
    }
}

// The drive's waterfall has its channels labelled across, each label over
// its column, as many as fit.
TEST_F(DriveHistoryTest, TheWaterfallsChannelsAreLabelledAcross)
{
    PaletteLegend* key = panel->findChild<PaletteLegend*>();
    ASSERT_TRUE(key);
    WaterfallView* waterfall = panel->waterfall();
    const HistorySection* section = waterfall->shownSection();
    ASSERT_TRUE(section);
    const auto labels = key->channelLabels();
    ASSERT_GE(labels.size(), 5u) << "a scan of ten channels has room for most";
    const uint64_t row = panel->history().endRow() - 1 - uint64_t(waterfall->scrollBack());
    int column = 0;
    for (const auto& [x, text] : labels) {
        // The next column with that channel number, left to right.
        while (column < int(section->columns.size()) && QString::number(section->columns[std::size_t(column)].channel) != text)
            ++column;
        ASSERT_LT(column, int(section->columns.size())) << text.toStdString();
        const QPoint centre = waterfall->mapTo(panel, waterfall->cellCentre(row, column));
        EXPECT_EQ(key->mapTo(panel, QPoint(x, 0)).x(), centre.x()) << text.toStdString();
        ++column;
    }
}

TEST_F(DriveHistoryTest, ClickingARowMovesTheSliderAndTheMarker)
{
    panel->setCursor(100 * kPerFix + 30);
    ASSERT_TRUE(until([&] { return panel->settled(); }));
    const auto cursorRow = panel->cursorRow();
    ASSERT_TRUE(cursorRow);
    // Twenty rows older than the cursor: further down.
    const uint64_t row = *cursorRow - 20;
    const QPoint cell = panel->waterfall()->cellCentre(row, 4);
    ASSERT_GE(cell.y(), 0);
    const int scrolled = panel->waterfall()->scrollBack();
    QTest::mouseClick(panel->waterfall(), Qt::LeftButton, {}, cell);

    const uint64_t record = panel->recordOfRow(row);
    EXPECT_EQ(panel->cursor(), record);
    EXPECT_EQ(panel->slider()->value(), int(record));
    EXPECT_EQ(panel->cursorRow(), row);
    EXPECT_EQ(panel->cursorLine()->rowY(), cell.y());
    EXPECT_EQ(panel->waterfall()->scrollBack(), scrolled) << "the row clicked stays under the pointer";
    const DriveSample& s = sampleAt(record);
    EXPECT_EQ(panel->timeLabel()->text(), utcText(s.timeMs));
    ASSERT_TRUE(window->view()->marker());
    EXPECT_EQ(*window->view()->marker(), markerShouldBe(s.latitude, s.longitude));
}

TEST_F(DriveHistoryTest, ClickingAPointOfTheRouteMovesTheRow)
{
    MapView* view = window->view();
    ASSERT_GT(view->pointCount(), 200u);
    // A dot far from the cursor, in another stretch of the log, zoomed in
    // until its neighbours lie well apart.
    const std::size_t i = 200;
    const MapPoint point = view->layers()[0].point(i);
    view->viewport().setZoom(19);
    view->viewport().setCentre(view->layers()[0].world()[i]);
    QTest::mouseClick(view, Qt::LeftButton, {}, view->screenPosition(0, i).toPoint());
    ASSERT_EQ(view->selection().index, int(i));
    ASSERT_TRUE(until([&] { return panel->settled(); }));

    // The dot is the strongest sample between two fixes: its record is the cursor.
    const DriveIndex* index = panel->index();
    const uint64_t record = panel->cursor();
    EXPECT_EQ(index->positionAt(record).timeMs, point.timeMs);
    EXPECT_GT(record, 200 * kPerFix);
    EXPECT_LT(record, 201 * kPerFix);
    EXPECT_EQ(panel->slider()->value(), int(record));
    const auto row = panel->cursorRow();
    ASSERT_TRUE(row);
    EXPECT_EQ(panel->recordOfRow(*row), record);
    EXPECT_GE(panel->cursorLine()->rowY(), 0);
    ASSERT_TRUE(view->marker());
    EXPECT_NEAR(view->marker()->x(), markerShouldBe(point.latitude, point.longitude).x(), 1e-12);
    EXPECT_NEAR(view->marker()->y(), markerShouldBe(point.latitude, point.longitude).y(), 1e-12);
    // The row shows the dot's reading for its channel.
    const int column = point.channel - panel->history().sectionOf(*row).columns.front().channel;
    ASSERT_GE(column, 0);
    EXPECT_EQ(panel->history().levelsAt(*row)[size_t(column)], point.rssi);
}

TEST_F(DriveHistoryTest, EachReceiversHistoryAndLiveHidesIt)
{
    // Record 41 * 50 + 5 is report k = 2004: R1 reads -92 dBm and R2 -96 dBm in slot 4.
    const uint64_t record = 50 * kPerFix + 5;
    panel->setCursor(record);
    ASSERT_TRUE(until([&] { return panel->settled(); }));
    auto row = panel->cursorRow();
    ASSERT_TRUE(row);
    EXPECT_EQ(panel->history().levelsAt(*row)[4], -92);
    panel->setReceiver(1);
    row = panel->cursorRow();
    ASSERT_TRUE(row);
    EXPECT_EQ(panel->recordOfRow(*row), record);
    EXPECT_EQ(panel->history().levelsAt(*row)[4], -96);

    window->startLive();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(window->view()->marker());
}

} // namespace
