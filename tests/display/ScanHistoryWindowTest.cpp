#include "display/HoldTraceView.h"
#include "display/ScanHistory.h"
#include "display/ScanHistoryWindow.h"
#include "display/WaterfallGeometry.h"
#include "display/WaterfallView.h"
#include "protocol/RssiPalette.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFuture>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <utility>

namespace {

using Kind = SampleReport::Kind;

ReceiverSettings band(uint32_t low)
{
    const uint32_t high = low + 1000;
    const uint8_t block[12] = {uint8_t(low),  uint8_t(low >> 8),  uint8_t(low >> 16),  uint8_t(low >> 24),
                               uint8_t(high), uint8_t(high >> 8), uint8_t(high >> 16), uint8_t(high >> 24),
                               0x00,          0x19,               0,                   0};
    ReceiverSettings s;
    s.storeBlock(block);
    for (int k = 0; k < 10; ++k)
        s.scanChannels[k] = low + uint32_t(k) * 10;
    s.scanChannelsKnown = true;
    return s;
}

SampleReport settingsMark(const ReceiverSettings& s)
{
    SampleReport r;
    r.kind = Kind::Settings;
    r.settings = s;
    return r;
}

SampleReport scan(int64_t utcMs, std::initializer_list<std::pair<int, int>> entries)
{
    SampleReport r;
    r.kind = Kind::Scan;
    r.utcMs = utcMs;
    for (auto [slot, dBm] : entries)
        r.entries[r.count++] = {uint16_t(slot), int8_t(dBm)};
    return r;
}

// Waits for the condition, handling events meanwhile; the limit is only a safety net.
bool waitFor(const std::function<bool()>& done)
{
    QDeadlineTimer limit(10000);
    while (!done()) {
        if (limit.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QRgb pixelOf(const WaterfallView& w, uint64_t row, int column)
{
    const QPoint p = w.cellCentre(row, column);
    EXPECT_GE(p.x(), 0) << "row " << row << " column " << column << " is not shown";
    if (p.x() < 0)
        return 0;
    return w.image().pixel(p);
}

class ScanHistoryWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        history.add(settingsMark(a), a);
        window = std::make_unique<ScanHistoryWindow>(0, history);
        window->show();
        ASSERT_TRUE(waitFor([&] { return !window->waterfall()->takePainted().isEmpty(); }));
    }

    void add(const SampleReport& report)
    {
        history.add(report, a);
    }

    const ReceiverSettings a = band(6000);
    ScanHistory history;
    std::unique_ptr<ScanHistoryWindow> window;
};

} // namespace

TEST_F(ScanHistoryWindowTest, eachCellHasThePaletteColourOfItsChannelsLevelAtThatRow)
{
    // Rows 0..3; a slot not read in a row keeps the level it last read.
    add(scan(1000, {{0, -120}, {1, -30}}));
    add(scan(1100, {{2, -75}}));
    add(scan(1200, {{0, -90}, {9, -50}}));
    add(scan(1300, {{1, -56}}));
    window->rowsAdded();
    const RssiPalette palette(WaterfallView::kBottomDbm, WaterfallView::kTopDbm);
    const QRgb none = WaterfallView::noDataColour();
    auto c = [&](int dBm) { return QRgb(palette.argb(dBm)); };
    struct Cell
    {
        uint64_t row;
        int column;
        QRgb colour;
    };
    const Cell cells[] = {
        {0, 0, c(-120)}, {0, 1, c(-30)}, {0, 2, none},    {0, 9, none},
        {1, 0, c(-120)}, {1, 1, c(-30)}, {1, 2, c(-75)},
        {2, 0, c(-90)},  {2, 2, c(-75)}, {2, 9, c(-50)},  {2, 5, none},
        {3, 0, c(-90)},  {3, 1, c(-56)}, {3, 9, c(-50)},
    };
    const WaterfallView& w = *window->waterfall();
    for (const Cell& cell : cells)
        EXPECT_EQ(pixelOf(w, cell.row, cell.column), cell.colour) << "row " << cell.row << " column " << cell.column;
    // The palette's ends really differ, so the table above tells cells apart.
    EXPECT_NE(c(-120), c(-30));
}

TEST_F(ScanHistoryWindowTest, aNewRowScrollsThePictureAndRepaintsOnlyItsStrip)
{
    for (int i = 0; i < 100; ++i)
        add(scan(1000 + i, {{i % 10, -40 - i % 70}}));
    window->rowsAdded();
    const WaterfallView& w = *window->waterfall();
    ASSERT_TRUE(waitFor([&] { return !window->waterfall()->takePainted().isEmpty(); }));
    const QRgb row50 = pixelOf(w, 50, 0);
    const QPoint before = w.cellCentre(50, 0);

    add(scan(2000, {{3, -33}}));
    add(scan(2001, {{4, -34}}));
    window->rowsAdded();
    QRegion painted;
    ASSERT_TRUE(waitFor([&] {
        painted += window->waterfall()->takePainted();
        return !painted.isEmpty();
    }));
    // The old rows moved down by two rows, unchanged.
    EXPECT_EQ(w.cellCentre(50, 0), before + QPoint(0, 2 * WaterfallGeometry::kRowHeight));
    EXPECT_EQ(pixelOf(w, 50, 0), row50);
    // Only the new strip (and the clock times' column beside it) was painted.
    EXPECT_LE(painted.boundingRect().bottom(), 2 * WaterfallGeometry::kRowHeight + 12);
    EXPECT_LT(painted.boundingRect().height(), w.height() / 4);
}

// The lowest clock time, whose text below its tick would lie under the colour
// key, is written above its tick; the others below theirs.
TEST_F(ScanHistoryWindowTest, theLowestClockTimeIsWrittenAboveItsTickNotUnderTheKey)
{
    WaterfallView& w = *window->waterfall();
    constexpr int kLabelRows = WaterfallGeometry::kRowsPerTimeLabel;
    static_assert(WaterfallGeometry::kRowHeight == 1, "rows are lines below");
    const int h = w.height();
    ASSERT_GT(h, 3 * kLabelRows);
    // Row n lies on line rows - 1 - n: the row numbered a multiple of the
    // label spacing falls five lines above the bottom.
    const int rows = h - 4 + 2 * kLabelRows;
    for (int i = 0; i < rows; ++i)
        add(scan(1000 + int64_t(i) * 997, {{i % 10, -60}}));
    window->rowsAdded();
    const QImage image = w.image();
    const int y = h - 5;
    auto ink = [&](int from, int to) {
        int dark = 0;
        for (int line = std::max(0, from); line < std::min(to, h); ++line)
            for (int x = 0; x < WaterfallGeometry::kAxisWidth - 6; ++x)
                dark += qGray(image.pixel(x, line)) < 128;
        return dark;
    };
    EXPECT_GT(ink(y - 11, y), 20) << "the time above its tick";
    EXPECT_EQ(ink(y + 1, h), 0) << "nothing cut off under the key";
    EXPECT_GT(ink(y - kLabelRows + 1, y - kLabelRows + 12), 20) << "the next time up below its tick";
}

TEST_F(ScanHistoryWindowTest, rowsAddedInBatchesAcrossTheRingsEndDrawTheSamePictureAsARebuild)
{
    WaterfallView& w = *window->waterfall();
    static_assert(WaterfallGeometry::kRowHeight == 1, "the ring arithmetic below counts rows as lines");
    constexpr int kLabelRows = WaterfallGeometry::kRowsPerTimeLabel;
    // Row n lies on the ring's line height - 1 - n % height: a height 4 lines
    // short of a multiple of the label spacing puts the clock time of row
    // height + 4 across the ring's end, 5 lines before it and 7 after.
    const int grow = (kLabelRows - 4 - w.height() % kLabelRows + kLabelRows) % kLabelRows;
    const int height = w.height() + grow;
    window->resize(window->width(), window->height() + grow);
    ASSERT_TRUE(waitFor([&] { return w.height() == height; }));
    ASSERT_EQ((height + 4) % kLabelRows, 0);
    ASSERT_GT(height, 60);

    // Batches of uneven sizes, a screen and a half, with a band change, so
    // the ring's end also falls inside rows and near a divider.
    const ReceiverSettings b = band(9000);
    const uint64_t total = uint64_t(height + height / 2);
    const int sizes[] = {1, 7, 23, 5, 31, 2, 17};
    int64_t t = 1000;
    uint64_t added = 0;
    for (int batch = 0; added < total; ++batch) {
        for (int i = 0; i < sizes[batch % 7]; ++i, ++added, t += 997) {
            if (added == uint64_t(height) - 3)
                history.add(settingsMark(b), b);
            const int k = int(added);
            history.add(scan(t, {{k % 10, -40 - k * 7 % 80}, {(k * 3 + 1) % 10, -120 + k % 90}}),
                        added >= uint64_t(height) - 3 ? b : a);
        }
        window->rowsAdded();
    }
    ASSERT_EQ(history.sections().size(), 2u);
    const QImage live = w.image().copy();
    // What the screen shows, painted from the ring.
    const QImage shown = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    w.rebuild();
    const QImage rebuilt = w.image();
    ASSERT_EQ(live.size(), rebuilt.size());
    for (int y = 0; y < live.height(); ++y)
        ASSERT_EQ(std::memcmp(live.constScanLine(y), rebuilt.constScanLine(y), std::size_t(live.bytesPerLine())), 0)
            << "line " << y;
    ASSERT_EQ(shown.size(), rebuilt.size());
    for (int y = 0; y < shown.height(); ++y)
        ASSERT_EQ(std::memcmp(shown.constScanLine(y), rebuilt.constScanLine(y), std::size_t(shown.bytesPerLine())), 0)
            << "line " << y;
}

TEST_F(ScanHistoryWindowTest, eachPixelShowsTheStrongestOfItsChannelsInATableAndAScanList)
{
    const WaterfallView& w = *window->waterfall();
    const int plotWidth = w.width() - WaterfallGeometry::kAxisWidth - WaterfallGeometry::kRightMargin;
    // Every pixel of row n against the columns the geometry gives it; returns
    // how many show `level`.
    auto checkRow = [&](uint64_t n, int level) {
        const HistorySection& s = history.sectionOf(n);
        const WaterfallGeometry g(plotWidth, int(s.columns.size()));
        const std::vector<int> levels = history.levelsAt(n);
        const int y = w.cellCentre(n, 0).y();
        int shown = 0;
        for (int x = 0; x < plotWidth; ++x) {
            int strongest = ScanHistory::kNoLevel;
            for (int c = g.firstColumnAt(x); c <= g.lastColumnAt(x); ++c)
                strongest = std::max(strongest, levels[std::size_t(c)]);
            EXPECT_EQ(w.image().pixel(WaterfallGeometry::kAxisWidth + x, y), w.colourOf(strongest))
                << "row " << n << " pixel " << x;
            shown += strongest == level;
        }
        return shown;
    };

    // A table wider than the plot: weak readings across the band, and one
    // strong carrier on a single channel, which must not fall between two
    // pixels.
    constexpr int kReports = 40;
    for (int k = 0; k < kReports; ++k) {
        SampleReport r;
        r.kind = Kind::Table;
        r.utcMs = 1000 + k;
        for (int i = 0; i < SampleReport::kMaxEntries; ++i) {
            const int index = (k * SampleReport::kMaxEntries + i) * 7;
            r.entries[r.count++] = {uint16_t(index), int8_t(index == 77 * 7 ? -35 : -110 + index % 9)};
        }
        add(r);
    }
    // A scan list, each channel many pixels wide (its first row is the
    // divider under the table).
    add(scan(2000, {{0, -50}, {3, -60}, {9, -70}}));
    add(scan(2001, {{1, -80}}));
    window->rowsAdded();
    ASSERT_GT(int(history.sectionOf(kReports - 1).columns.size()), plotWidth);
    EXPECT_GE(checkRow(kReports - 1, -35), 1);
    EXPECT_GE(checkRow(kReports + 1, -60), plotWidth / 10 - 1);
}

TEST_F(ScanHistoryWindowTest, aBandChangeDrawsADividerBetweenItsSections)
{
    for (int i = 0; i < 10; ++i)
        add(scan(1000 + i, {{0, -100}}));
    const ReceiverSettings b = band(9000);
    history.add(settingsMark(b), b);
    for (int i = 0; i < 10; ++i)
        history.add(scan(2000 + i, {{0, -100}}), b);
    window->rowsAdded();
    ASSERT_EQ(history.sections().size(), 2u);
    const WaterfallView& w = *window->waterfall();
    auto isDivider = [&](uint64_t row) {
        const QPoint p = w.cellCentre(row, 5);
        return w.image().pixel(p.x(), p.y() + WaterfallGeometry::kRowHeight - 1) == qRgb(255, 255, 255);
    };
    EXPECT_TRUE(isDivider(10));
    EXPECT_FALSE(isDivider(9));
    EXPECT_FALSE(isDivider(11));
}

TEST_F(ScanHistoryWindowTest, aSingleChannelIsAStripAsWideAsAScanChannel)
{
    ReceiverSettings tuned = a;
    tuned.current = 6040;
    SampleReport block;
    block.kind = Kind::Single;
    block.count = 1;
    block.entries[0].dBm = -60;
    history.add(block, tuned);
    window->rowsAdded();
    const WaterfallView& w = *window->waterfall();
    const QPoint strip = w.cellCentre(0, 0);
    const int plotWidth = w.width() - WaterfallGeometry::kAxisWidth - WaterfallGeometry::kRightMargin;
    EXPECT_LT(strip.x(), WaterfallGeometry::kAxisWidth + plotWidth / 10);
    EXPECT_EQ(w.image().pixel(strip), RssiPalette(WaterfallView::kBottomDbm, WaterfallView::kTopDbm).argb(-60));
    // Beside the strip there is no channel.
    const QPoint beside = strip + QPoint(plotWidth / 2, 0);
    EXPECT_NE(w.image().pixel(beside), RssiPalette(WaterfallView::kBottomDbm, WaterfallView::kTopDbm).argb(-60));
    EXPECT_EQ(w.readout(beside), QString());
    EXPECT_TRUE(w.readout(strip).startsWith("Channel 41  151.0000 MHz"));
}

TEST_F(ScanHistoryWindowTest, pointingAtACellReadsItsChannelFrequencyTimeAndLevel)
{
    add(scan(QDateTime(QDate(2026, 12, 9), QTime(19, 56, 57, 123)).toMSecsSinceEpoch(), {{3, -77}}));
    window->rowsAdded();
    WaterfallView& w = *window->waterfall();
    const QPoint cell = w.cellCentre(0, 3);
    QMouseEvent move(QEvent::MouseMove, cell, w.mapToGlobal(cell), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &move);
    EXPECT_EQ(window->readout()->text(), "Channel 31  150.7500 MHz  19:56:57.123  -77 dBm");
    const QPoint empty = w.cellCentre(0, 4);
    EXPECT_EQ(w.readout(empty), "Channel 41  151.0000 MHz  19:56:57.123  no reading");
}

// The regions the widget's paint events covered.
class PaintRecorder : public QObject
{
public:
    explicit PaintRecorder(QWidget* w)
    {
        w->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
    QRegion painted;
};

TEST_F(ScanHistoryWindowTest, movedHoldsRepaintOnlyThePlotUntilANewSectionRelabelsIt)
{
    HoldTraceView& traces = *window->traces();
    PaintRecorder recorder(&traces);
    add(scan(1000, {{0, -40}, {5, -90}}));
    add(scan(1100, {{0, -100}}));
    window->rowsAdded();
    ASSERT_TRUE(waitFor([&] { return !recorder.painted.isEmpty(); }));

    // The average of slot 0 moves from -70 to -80 dBm, where no other trace
    // was: the plot is repainted, no label.
    recorder.painted = QRegion();
    add(scan(1200, {{0, -100}}));
    window->rowsAdded();
    ASSERT_TRUE(waitFor([&] { return !recorder.painted.isEmpty(); }));
    EXPECT_EQ(recorder.painted.boundingRect(), traces.plotRect());
    // What the screen shows is what painting it all shows.
    const QPoint at = traces.mapTo(window.get(), QPoint(0, 0));
    const QImage screen = window->screen()->grabWindow(window->winId()).toImage().copy(QRect(at, traces.size()));
    const QImage whole = traces.grab().toImage();
    ASSERT_EQ(screen.size(), whole.size());
    EXPECT_EQ(screen.convertToFormat(QImage::Format_RGB32), whole.convertToFormat(QImage::Format_RGB32));

    // Another band: other channels, other labels, all repainted (the grab
    // above may leave a repaint of its own to come first).
    recorder.painted = QRegion();
    const ReceiverSettings b = band(9000);
    history.add(settingsMark(b), b);
    history.add(scan(1300, {{0, -70}}), b);
    window->rowsAdded();
    EXPECT_TRUE(waitFor([&] { return recorder.painted == QRegion(traces.rect()); }));
}

TEST_F(ScanHistoryWindowTest, resetClearsTheHoldsAndLabelsFollowTheFrequencyButton)
{
    add(scan(0, {{0, -50}}));
    window->rowsAdded();
    QAbstractButton* reset = nullptr;
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
        if (b->accessibleName() == "Reset holds")
            reset = b;
    ASSERT_NE(reset, nullptr);
    reset->click();
    EXPECT_EQ(history.newestSection()->count[0], 0u);

    window->setShowFrequency(true);
    EXPECT_EQ(window->traces()->label(9), "152.2500");
    window->setShowFrequency(false);
    EXPECT_EQ(window->traces()->label(9), "91");
}

TEST_F(ScanHistoryWindowTest, exportsWriteTheHistoryAndThePicture)
{
    add(scan(1796846217123, {{0, -50}}));
    window->rowsAdded();
    QTemporaryDir dir;
    const QString csv = dir.filePath("h.csv"), png = dir.filePath("h.png");
    QString error;
    ASSERT_TRUE(window->exportCsv(csv, error)) << error.toStdString();
    ASSERT_TRUE(window->exportPng(png, error)) << error.toStdString();
    std::ostringstream expected;
    history.writeCsv(expected);
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), expected.str());
    const QImage picture(png);
    EXPECT_GT(picture.height(), window->waterfall()->height());
    EXPECT_FALSE(window->exportCsv(dir.filePath("missing/h.csv"), error));
    EXPECT_TRUE(error.contains("No such file or directory")) << error.toStdString();
}

// The saved picture says what it is: the window, the receiver and when, in
// a caption over the picture and in the PNG's text.
TEST_F(ScanHistoryWindowTest, aSavedPictureNamesTheWindowTheReceiverAndTheTime)
{
    add(scan(1796846217123, {{0, -50}}));
    window->rowsAdded();
    const QDateTime savedAt(QDate(2026, 12, 9), QTime(19, 56, 57), Qt::UTC);
    QTemporaryDir dir;
    ASSERT_TRUE(window->picture(savedAt).save(dir.filePath("p.png"), "PNG"));
    const QImage saved(dir.filePath("p.png"));
    const QString title = saved.text("Title");
    for (const char* part : {"Scan History - R1", "receiver R1", "2026-12-09 19:56:57 UTC"})
        EXPECT_TRUE(title.contains(part)) << title.toStdString() << " lacks " << part;
    EXPECT_EQ(saved.text("Creation Time"), "2026-12-09T19:56:57Z");
    // The caption is drawn above the picture: the strip holds the text's colour.
    const QImage plain = window->picture(savedAt);
    const int caption = plain.height() - qRound(window->waterfall()->parentWidget()->height() * plain.devicePixelRatio());
    ASSERT_GT(caption, 0);
    const QRgb text = window->palette().color(QPalette::WindowText).rgb();
    bool drawn = false;
    for (int y = 0; y < caption && !drawn; ++y)
        for (int x = 0; x < plain.width() && !drawn; ++x)
            drawn = plain.pixel(x, y) == text;
    EXPECT_TRUE(drawn);
}

// A save replaces the file only whole: on a disk that refuses the rest of
// the file, the one that was there stays, no part is left beside it, and
// the reason is given.
TEST_F(ScanHistoryWindowTest, aSaveThatFailsLeavesTheOldFileAndSaysWhy)
{
    for (int n = 0; n < 400; ++n)
        add(scan(1796846217123 + n * 100, {{n % 10, -40 - n % 80}, {(n + 3) % 10, -60}}));
    window->rowsAdded();
    struct Case
    {
        const char* name;
        std::function<bool(const QString&, QString&)> save;
    };
    const Case cases[] = {
        {"csv", [this](const QString& p, QString& e) { return window->exportCsv(p, e); }},
        {"png", [this](const QString& p, QString& e) { return window->exportPng(p, e); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("h.") + c.name);
        {
            QFile old(target);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("the file saved before\n");
        }
        // Files may grow to 1 KiB: a nearly full disk, as the writer sees it.
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit before{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
        rlimit small = before;
        small.rlim_cur = 1024;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        QString error;
        const bool saved = c.save(target, error);
        ::setrlimit(RLIMIT_FSIZE, &before);
        EXPECT_FALSE(saved);
        EXPECT_TRUE(error.contains("File too large")) << error.toStdString();
        QFile old(target);
        ASSERT_TRUE(old.open(QIODevice::ReadOnly));
        EXPECT_EQ(old.readAll(), "the file saved before\n");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

        ASSERT_TRUE(c.save(target, error)) << error.toStdString();
        EXPECT_GT(QFileInfo(target).size(), 1024);
    }
}

// Save CSV... writes a copy of the history on a worker thread while reports
// keep coming: through a FIFO the test reads only once the call returned, a
// write on the window thread would wait for that reader, and the watchdog
// (a safety net) reads in its place and says so.
TEST_F(ScanHistoryWindowTest, aCsvIsWrittenOffTheWindowThreadFromTheHistoryAsItWasAsked)
{
    for (int n = 0; n < 20000; ++n)
        add(scan(1796846217123 + n * 5, {{n % 10, -40 - n % 80}}));
    window->rowsAdded();
    std::ostringstream asked;
    history.writeCsv(asked);

    QTemporaryDir dir;
    const QString fifo = dir.filePath("h.csv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_GT(asked.str().size(), size_t(::fcntl(reader, F_GETPIPE_SZ))) << "more than the pipe holds";
    std::mutex lock;
    std::condition_variable changed;
    bool returned = false, watchdogRead = false;
    std::string read;
    auto drain = [&read, reader](bool untilEnd) {
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(reader, chunk, sizeof chunk);
            if (n > 0)
                read.append(chunk, size_t(n));
            else if (n == 0 || !untilEnd)
                return n == 0;
            pollfd more{reader, POLLIN, 0};
            ::poll(&more, 1, 1000);
        }
    };
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> held(lock);
        if (!changed.wait_for(held, std::chrono::seconds(60), [&] { return returned; })) {
            watchdogRead = true;
            drain(true);
        }
    });
    QFuture<QString> future = window->exportCsvInBackground(fifo);
    {
        std::lock_guard<std::mutex> held(lock);
        returned = true;
    }
    changed.notify_all();
    watchdog.join();
    EXPECT_FALSE(watchdogRead) << "the CSV was written on the window thread";
    for (int n = 0; n < 50; ++n) // reports that come meanwhile are not in the file
        add(scan(1796846217123 + 200000 + n, {{1, -70}}));
    window->rowsAdded();
    QDeadlineTimer limit(60000);
    pollfd wait{reader, POLLIN, 0};
    for (;;) {
        const bool writerGone = drain(false); // the worker closes the file once it finished
        if ((writerGone && future.isFinished()) || limit.hasExpired())
            break;
        ::poll(&wait, 1, 100);
    }
    ::close(reader);
    ASSERT_TRUE(future.isFinished());
    EXPECT_EQ(future.result(), QString());
    EXPECT_TRUE(read == asked.str()) << read.size() << " bytes read, " << asked.str().size() << " asked";
}

// Save dialogs start where the program works and makes its logs.
TEST_F(ScanHistoryWindowTest, saveDialogsStartInTheProgramsFolder)
{
    QTemporaryDir dir;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const QString png = window->suggestedPath("png"), csv = window->suggestedPath("csv");
    QDir::setCurrent(before);
    EXPECT_EQ(png, QDir(dir.path()).absoluteFilePath("scan-history-r1.png"));
    EXPECT_EQ(csv, QDir(dir.path()).absoluteFilePath("scan-history-r1.csv"));
}

TEST_F(ScanHistoryWindowTest, everyControlHasAnAccessibleName)
{
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QScrollBar*>(w) || qobject_cast<WaterfallView*>(w)) {
            EXPECT_FALSE(w->accessibleName().isEmpty()) << w->metaObject()->className();
        }
    }
}
