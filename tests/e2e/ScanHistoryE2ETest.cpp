// The scan history through the whole program: the emulator sends a known
// staircase of scan levels (--pattern), and the history window must show,
// hold and export exactly what was sent.
#include "e2e/ProgramFixture.h"
#include "app/ScanHistoryControls.h"
#include "app/LinkStarter.h"
#include "app/TCom_Form.h"
#include "display/HoldTraceView.h"
#include "display/ScanHistory.h"
#include "display/ScanHistoryWindow.h"
#include "display/WaterfallGeometry.h"
#include "display/WaterfallView.h"
#include "protocol/Decoder.h"
#include "protocol/RssiPalette.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QJsonObject>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

bool until(const std::function<bool()>& done, int timeoutMs = 15000)
{
    return processUntil(done, timeoutMs);
}

// The emulator's staircase, written out again here rather than taken from it.
int patternLevel(int sweep, int slot)
{
    return -120 + (13 * sweep + 29 * slot) % 91;
}

// With one receiver, report j reads slots 0-4 (j even) or 5-9 (j odd) of sweep j / 2.
int sweepOf(uint64_t report, uint64_t firstOfScan)
{
    return int((report - firstOfScan) / 2);
}

bool reads(uint64_t report, uint64_t firstOfScan, int slot)
{
    return int((report - firstOfScan) % 2) == slot / 5;
}

class ScanHistoryRun : public ProgramFixture
{
protected:
    void SetUp() override
    {
        ProgramFixture::SetUp();
        // One receiver, paused until the program knows the band and the scan list.
        ASSERT_TRUE(startEmulatorProcess(sim, {"--gps", "off", "--mode", "scan", "--receivers", "1", "--pattern"}, port,
                                         statsPath));
        command("pause");
        ASSERT_TRUE(until([&] { return QFileInfo::exists(port); })) << "no pty from the emulator";
        program = std::make_unique<Program>(device, samples, gps, link);
        QComboBox* choice = program->comForm().portChoice();
        choice->setEditText(port);
        QTest::keyClick(choice->lineEdit(), Qt::Key_Return);
        // The program asks for the settings once, after the serial number.
        // A loaded machine can stall the emulator mid-frame past the
        // framer's quiet limit, and a paused device sends nothing else to
        // recover with: the test asks again rather than wait forever.
        bool settled = false;
        for (int attempt = 0; attempt < 4 && !settled; ++attempt) {
            settled = until([&] { return device.settingsCopy(0).stepKHz == 25.0; }, 5000);
            if (!settled && program->starter().decoder())
                program->starter().decoder()->requestSettings();
        }
        ASSERT_TRUE(settled) << "no settings";
        // Starting scan again sends the channels and starts the staircase at sweep 0.
        command("mode scan");
        bool listed = until([&] { return device.settingsCopy(0).scanChannelsKnown; }, 5000);
        for (int attempt = 0; attempt < 3 && !listed; ++attempt) {
            command("mode scan");
            listed = until([&] { return device.settingsCopy(0).scanChannelsKnown; }, 5000);
        }
        ASSERT_TRUE(listed) << "no scan list";
    }

    ScanHistory& history() { return program->scanHistory().history(0); }

    // Streams at least `reports` more scan reports, then pauses and waits
    // until every one sent is in the history; returns the emulator's count.
    int stream(int reports)
    {
        const int before = scanReportsSent();
        command("resume");
        EXPECT_TRUE(until([&] { return scanReportsSent() >= before + reports; })) << "the emulator sent too few";
        command("pause");
        command("drain");
        const std::string prefix = "tavrix-sim: drained ";
        EXPECT_TRUE(until([&] {
            while (const auto line = sim.readLine(0))
                if (line->rfind(prefix, 0) == 0)
                    return true;
            return false;
        })) << "the emulator never drained";
        const int sent = scanReportsSent();
        EXPECT_TRUE(until([&] { return history().endRow() == uint64_t(sent); }))
            << "the history has " << history().endRow() << " rows of " << sent << " reports";
        return sent;
    }

    int scanReportsSent() const
    {
        return stats().value(QStringLiteral("sent")).toObject().value(QStringLiteral("ScanReport")).toInt();
    }

    ScanHistoryWindow* openWindow()
    {
        program->scanHistory().openAction(0)->trigger();
        ScanHistoryWindow* w = program->scanHistory().window(0);
        EXPECT_TRUE(w && until([&] { return w->isVisible() && !w->waterfall()->takePainted().isEmpty(); }));
        return w;
    }

    static int maxColourPixels(QWidget* traces)
    {
        const QImage image = traces->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int n = 0;
        // Below the key, which shows the colour too.
        for (int y = HoldTraceView::kKeyHeight; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += QColor(image.pixel(x, y)) == HoldTraceView::kMaxColour;
        return n;
    }
};

} // namespace

TEST_F(ScanHistoryRun, ThePatternSentIsTheWaterfallTheHoldsAndTheCsv)
{
    const int sent = stream(40);
    ScanHistory& h = history();
    ASSERT_EQ(h.sections().size(), 1u) << "the band and scan list came before the first report";
    ASSERT_EQ(h.firstRow(), 0u);

    // Every report is a row with the levels sent.
    for (uint64_t i = 0; i < uint64_t(sent); ++i) {
        const HistoryRow& row = h.row(i);
        ASSERT_EQ(row.count, 5) << "row " << i;
        for (int e = 0; e < 5; ++e) {
            const int slot = int(i % 2) * 5 + e;
            ASSERT_EQ(row.column[e], slot) << "row " << i;
            ASSERT_EQ(row.dBm[e], patternLevel(sweepOf(i, 0), slot)) << "row " << i << " slot " << slot;
        }
    }

    // Each cell's colour is its channel's level at that row: the last one
    // read at or before it.
    ScanHistoryWindow* window = openWindow();
    ASSERT_NE(window, nullptr);
    const WaterfallView& w = *window->waterfall();
    const RssiPalette palette; // the waterfall's own scale
    for (uint64_t i = 0; i < uint64_t(sent); ++i) {
        for (int slot = 0; slot < 10; ++slot) {
            std::optional<int> level;
            for (uint64_t j = i + 1; j-- > 0;)
                if (reads(j, 0, slot)) {
                    level = patternLevel(sweepOf(j, 0), slot);
                    break;
                }
            const QPoint p = w.cellCentre(i, slot);
            ASSERT_GE(p.y(), 0) << "row " << i << " off the screen";
            EXPECT_EQ(w.image().pixel(p), level ? QRgb(palette.argb(*level)) : WaterfallView::noDataColour())
                << "row " << i << " slot " << slot;
        }
    }

    // Holds since the start: the extremes each slot read.
    const HistorySection& section = *h.newestSection();
    for (int slot = 0; slot < 10; ++slot) {
        int most = -200, least = 200;
        for (uint64_t j = 0; j < uint64_t(sent); ++j)
            if (reads(j, 0, slot)) {
                most = std::max(most, patternLevel(sweepOf(j, 0), slot));
                least = std::min(least, patternLevel(sweepOf(j, 0), slot));
            }
        EXPECT_EQ(section.maxHold[std::size_t(slot)], most) << "slot " << slot;
        EXPECT_EQ(section.minHold[std::size_t(slot)], least) << "slot " << slot;
    }

    // The CSV: a line for each report sent, its five levels under their
    // channels' frequencies (as the device's scan list names them), nothing else.
    const QString csvPath = dir.filePath(QStringLiteral("history.csv"));
    ASSERT_TRUE(window->exportCsv(csvPath));
    QFile csv(csvPath);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    ASSERT_EQ(lines.size(), sent + 2) << "header, a line per report, and the final newline";
    const QList<QByteArray> header = lines[0].split(',');
    const ReceiverSettings settings = device.settingsCopy(0);
    std::vector<int> columnOfSlot;
    for (int slot = 0; slot < 10; ++slot) {
        const QByteArray mhz = QByteArray::number(settings.valueMHz(settings.scanChannels[std::size_t(slot)]), 'f', 5);
        const auto at = std::find(header.begin(), header.end(), mhz);
        ASSERT_NE(at, header.end()) << mhz.toStdString();
        columnOfSlot.push_back(int(at - header.begin()));
    }
    for (int i = 0; i < sent; ++i) {
        const QList<QByteArray> cells = lines[i + 1].split(',');
        ASSERT_EQ(cells.size(), header.size()) << "line " << i;
        EXPECT_TRUE(cells[0].endsWith('Z')) << cells[0].toStdString();
        std::map<int, QByteArray> expected;
        for (int e = 0; e < 5; ++e) {
            const int slot = i % 2 * 5 + e;
            expected[columnOfSlot[std::size_t(slot)]] = QByteArray::number(patternLevel(sweepOf(uint64_t(i), 0), slot));
        }
        for (int c = 1; c < cells.size(); ++c)
            EXPECT_EQ(cells[c], expected.count(c) ? expected[c] : QByteArray()) << "line " << i << " column " << c;
    }
}

TEST_F(ScanHistoryRun, ResetClearsTheTracesAndABandChangeStartsASection)
{
    const int first = stream(20);
    ScanHistoryWindow* window = openWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(until([&] { return maxColourPixels(window->traces()) > 0; })) << "no max hold trace";

    QAbstractButton* reset = nullptr;
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
        if (b->accessibleName() == QStringLiteral("Reset holds"))
            reset = b;
    ASSERT_NE(reset, nullptr);
    reset->click();
    EXPECT_TRUE(until([&] { return maxColourPixels(window->traces()) == 0; })) << "the traces stayed";

    // After the reset, the holds are those of the reports that came since.
    const int second = stream(20);
    const HistorySection& section = *history().newestSection();
    for (int slot = 0; slot < 10; ++slot) {
        int most = -200, least = 200;
        for (uint64_t j = uint64_t(first); j < uint64_t(second); ++j)
            if (reads(j, 0, slot)) {
                most = std::max(most, patternLevel(sweepOf(j, 0), slot));
                least = std::min(least, patternLevel(sweepOf(j, 0), slot));
            }
        EXPECT_EQ(section.maxHold[std::size_t(slot)], most) << "slot " << slot;
        EXPECT_EQ(section.minHold[std::size_t(slot)], least) << "slot " << slot;
    }

    // A new step: its reports go to a new section, under a divider.
    command("step 12.5");
    ASSERT_TRUE(until([&] { return device.settingsCopy(0).stepKHz == 12.5; }));
    const int third = stream(10);
    ASSERT_EQ(history().sections().size(), 2u);
    const HistorySection& changed = *history().newestSection();
    EXPECT_EQ(changed.firstRow, uint64_t(second));
    EXPECT_EQ(changed.settings.stepKHz, 12.5);
    EXPECT_EQ(history().sectionOf(uint64_t(second) - 1).settings.stepKHz, 25.0);
    // The staircase started again with the new channels.
    EXPECT_EQ(history().row(uint64_t(second)).dBm[0], patternLevel(0, 0));
    EXPECT_EQ(history().endRow(), uint64_t(third));
    const WaterfallView& w = *window->waterfall();
    const QPoint divider = w.cellCentre(uint64_t(second), 3) + QPoint(0, WaterfallGeometry::kRowHeight - 1);
    EXPECT_EQ(w.image().pixel(divider), qRgb(255, 255, 255));
}
