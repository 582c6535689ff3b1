#include "display/DBar.h"
#include "display/ReceiverGraphView.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QImage>
#include <QPaintEvent>
#include <QScreen>

#include <climits>
#include <functional>
#include <memory>

namespace {

const QRgb kMaroon = qRgb(0x80, 0x00, 0x00);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kRed = qRgb(0xFF, 0, 0);

struct Box
{
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN; // inclusive
    int count = 0;
};

// Pixels of one colour inside [left, right] x [top, bottom] of the canvas.
Box find(const QImage& img, QRgb colour, int left, int top, int right, int bottom)
{
    Box b;
    for (int y = std::max(top, 0); y <= std::min(bottom, img.height() - 1); ++y)
        for (int x = std::max(left, 0); x <= std::min(right, img.width() - 1); ++x)
            if (img.pixel(x, y) == colour) {
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
                ++b.count;
            }
    return b;
}

Box findAll(const QImage& img, QRgb colour)
{
    return find(img, colour, 0, 0, img.width() - 1, img.height() - 1);
}

class DBarPaint : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g = std::make_unique<DBar>();
        configureReceiverGraph(*g);
        PlaceGraph(g.get(), 0, 0, 610, 405);
        ASSERT_EQ(g->plotGeometry().plotRect, (DBarGeometry::Rect{91, 60, 518, 344}));
    }

    void bars(std::initializer_list<std::tuple<int16_t, const char*, double>> list)
    {
        g->BeginBars();
        for (auto [x, label, value] : list)
            g->DrawBar(x, QString::fromUtf8(label), value);
        g->EndBars(QString());
    }

    QImage canvas() const { return g->canvas(); }

    std::unique_ptr<DBar> g;
};

} // namespace

TEST_F(DBarPaint, singleBarFillsFromItsValueToThePlotBottom)
{
    bars({{1, "-75 dBm", -75.0}});
    const int py = g->ValueToPixel(DBarGeometry::YAxis, -75.0);
    ASSERT_NEAR(py, 202, 1);

    // Bar at x 1 (column 304), half width 71: columns 233 .. 374.
    const Box bar = find(canvas(), kMaroon, 0, py, 609, 404);
    EXPECT_EQ(bar.left, 233);
    EXPECT_EQ(bar.right, 374);
    EXPECT_EQ(bar.top, py);
    EXPECT_EQ(bar.bottom, 343);
    EXPECT_EQ(bar.count, 142 * (344 - py));

    // Label centred over the bar, its cell starting 20 pixels above it.
    const Box label = find(canvas(), kMaroon, 0, 0, 609, py - 1);
    ASSERT_GT(label.count, 0);
    EXPECT_GE(label.top, py - 20);
    EXPECT_LT(label.bottom, py - 5);
    EXPECT_NEAR((label.left + label.right) / 2, 304, 3);
}

TEST_F(DBarPaint, valueBelowTheRangeDrawsOnlyTheLabel)
{
    bars({{1, "-125 dBm", -125.0}});
    const Box all = findAll(canvas(), kMaroon);
    ASSERT_GT(all.count, 0);
    EXPECT_GE(all.top, 344 - 20);
    EXPECT_LT(all.bottom, 344 - 5);
}

TEST_F(DBarPaint, barsOutsideTheXRangeDrawNothing)
{
    bars({{3, "far right", -50.0}, {-1, "far left", -50.0}});
    EXPECT_EQ(findAll(canvas(), kMaroon).count, 0);
}

TEST_F(DBarPaint, barsSharingAColumnMoveRightThenLeft)
{
    g->alwaysLabel = false;
    const int low = g->ValueToPixel(DBarGeometry::YAxis, -100.0);
    const int mid = g->ValueToPixel(DBarGeometry::YAxis, -60.0);
    const int high = g->ValueToPixel(DBarGeometry::YAxis, -40.0);
    bars({{1, "", -100.0}, {1, "", -40.0}, {1, "", -60.0}});

    const Box second = find(canvas(), kMaroon, 0, high, 609, high);
    EXPECT_EQ(second.left, 233 + 5);
    EXPECT_EQ(second.right, 374 + 5);
    const Box secondAndThird = find(canvas(), kMaroon, 0, mid, 609, mid);
    EXPECT_EQ(secondAndThird.left, 233 - 5);
    EXPECT_EQ(secondAndThird.right, 374 + 5);
    const Box all = find(canvas(), kMaroon, 0, low, 609, low);
    EXPECT_EQ(all.count, 142 + 2 * 5);
}

TEST_F(DBarPaint, labelsOnlyUnderTheMouseWhenNotAlwaysLabelled)
{
    g->alwaysLabel = false;
    const int py = g->ValueToPixel(DBarGeometry::YAxis, -75.0);
    g->MouseMove(20, 20);
    bars({{1, "-75 dBm", -75.0}});
    EXPECT_EQ(find(canvas(), kMaroon, 0, 0, 609, py - 1).count, 0);

    g->MouseMove(300, 300);
    EXPECT_EQ(g->mouseX(), 300 - 91);
    EXPECT_EQ(g->mouseY(), 300 - 60);
    bars({{1, "-75 dBm", -75.0}});
    EXPECT_GT(find(canvas(), kMaroon, 0, 0, 609, py - 1).count, 0);
}

TEST_F(DBarPaint, verticalLabelsRunUpwardFromAboveTheBar)
{
    g->SetXMax(11.0);
    g->verticalLabels = true;
    const int py = g->ValueToPixel(DBarGeometry::YAxis, -60.0);
    const int px = g->ValueToPixel(DBarGeometry::XAxis, 5.0);
    bars({{5, "150.1000", -60.0}});
    const Box label = find(canvas(), kMaroon, 0, 0, 609, py - 1);
    ASSERT_GT(label.count, 0);
    EXPECT_LE(label.bottom, py - 20);
    EXPECT_GT(label.bottom - label.top, 2 * (label.right - label.left));
    EXPECT_NEAR((label.left + label.right) / 2, px, 4);
}

TEST_F(DBarPaint, longLabelsAreCut)
{
    g->SetXMax(11.0);
    g->verticalLabels = true;
    bars({{5, "12345678901234567", -100.0}});
    const Box full = find(canvas(), kMaroon, 0, 0, 609, 404);
    bars({{5, "12345678901234567890123456789", -100.0}});
    const Box cut = find(canvas(), kMaroon, 0, 0, 609, 404);
    EXPECT_EQ(cut.top, full.top);
    EXPECT_EQ(cut.count, full.count);
}

TEST_F(DBarPaint, resizeLeavesTheEmptyGrid)
{
    bars({{1, "-75 dBm", -75.0}});
    ASSERT_GT(findAll(canvas(), kMaroon).count, 0);
    PlaceGraph(g.get(), 0, 0, 684, 453);
    EXPECT_EQ(canvas().width(), 684);
    EXPECT_EQ(findAll(canvas(), kMaroon).count, 0);
    // Grid: white plot with grey division lines.
    EXPECT_EQ(canvas().pixel(200, g->plotGeometry().plotRect.top), qRgb(0x80, 0x80, 0x80));
    EXPECT_EQ(canvas().pixel(200, g->plotGeometry().plotRect.top + 5), qRgb(0xFF, 0xFF, 0xFF));
    // The bars shown before the resize are gone: the same bars again are drawn.
    bars({{1, "-75 dBm", -75.0}});
    EXPECT_GT(findAll(canvas(), kMaroon).count, 0);
}

TEST_F(DBarPaint, titleKeepsItsTextOnFullStopAndClearsOnEmpty)
{
    const auto band = [&] { return find(canvas(), kBlack, 91, 15, 517, 44); };
    g->SetTitle(QStringLiteral("R1 (150.00000-175.00000)MHz 25.00 KHz Step"));
    const Box first = band();
    ASSERT_GT(first.count, 0);
    g->SetTitle(QStringLiteral("."));
    EXPECT_EQ(g->titleText(), QStringLiteral("R1 (150.00000-175.00000)MHz 25.00 KHz Step"));
    EXPECT_EQ(band().count, first.count);
    g->SetTitle(QString());
    EXPECT_TRUE(g->titleText().isEmpty());
    EXPECT_EQ(band().count, 0);

    // Too wide for the plot even at the smallest height: starts left of it.
    g->SetTitle(QString(200, QLatin1Char('W')));
    EXPECT_LT(find(canvas(), kBlack, 0, 0, 609, 59).left, 91);
}

TEST_F(DBarPaint, scalesAndValueCaptionAreDrawn)
{
    EXPECT_GT(find(canvas(), kBlack, 45, 46, 89, 357).count, 0);   // left scale
    EXPECT_GT(find(canvas(), kBlack, 0, 100, 44, 300).count, 0);   // "RSSI (dBm)"
    EXPECT_EQ(find(canvas(), kBlack, 519, 46, 609, 357).count, 0); // no right scale
}

TEST_F(DBarPaint, mouseZoomAndReadout)
{
    PlaceGraph(g.get(), 0, 0, 640, 480);
    g->SetXMax(11.0);
    g->MouseUp(DBarGeometry::Button::Left, 320, 200);
    EXPECT_EQ(g->xMax(), 11.0); // zoom off in this configuration

    g->zoomEnabled = true;
    g->MouseUp(DBarGeometry::Button::Left, 320, 200);
    EXPECT_DOUBLE_EQ(g->xMin(), 2.75);
    EXPECT_DOUBLE_EQ(g->xMax(), 8.25);
    g->MouseUp(DBarGeometry::Button::Right, 320, 200);
    EXPECT_DOUBLE_EQ(g->xMin(), 0.0);
    EXPECT_DOUBLE_EQ(g->xMax(), 11.0);

    const DBarGeometry::Rect r = g->plotGeometry().readoutRect;
    EXPECT_EQ(find(canvas(), kRed, r.left, r.top, r.right - 1, r.bottom - 1).count, 0);
    g->readoutEnabled = true;
    g->MouseMove(10, 200);
    EXPECT_GT(find(canvas(), kRed, r.left, r.top, r.right - 1, r.bottom - 1).count, 0);
}

TEST_F(DBarPaint, markersAndTraceAreDrawnIntoTheGrid)
{
    g->markers[0] = {true, QColor(0, 0, 0xFF), 1.0, QStringLiteral("M1")};
    g->traceVisible = true;
    g->traceLastIndex = 500; // beyond the 100 points: only those are joined
    g->tracePoints[0] = {0.0, -120.0};
    for (int i = 1; i < DBar::kTracePoints; ++i)
        g->tracePoints[size_t(i)] = {2.0, -30.0};
    g->Paint();

    // Dashed: the marker's column is blue in part, not all the way down.
    const Box marker = find(canvas(), qRgb(0, 0, 0xFF), 304, 60, 304, 343);
    EXPECT_GT(marker.count, 50);
    EXPECT_LT(marker.count, 284);
    EXPECT_GT(find(canvas(), kBlack, 80, 40, 530, 59).count, 0); // its label above the plot
    EXPECT_GT(find(canvas(), kMaroon, 91, 60, 517, 343).count, 200); // the trace's diagonal

    // Bar updates start again from this background.
    bars({});
    EXPECT_GT(find(canvas(), qRgb(0, 0, 0xFF), 304, 60, 304, 343).count, 50);
}

TEST_F(DBarPaint, legendUnderThePlotWithoutXScale)
{
    g->xScaleArea = false;
    g->BeginBars();
    g->EndBars(QStringLiteral("Legend"));
    EXPECT_GT(find(canvas(), kBlack, 91, 349, 517, 378).count, 0);
}

namespace {

// Collects the regions the control is asked to repaint.
class PaintRecorder : public QObject
{
public:
    explicit PaintRecorder(QWidget* w) { w->installEventFilter(this); }
    QRegion painted;
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(e)->region();
            ++paints;
        }
        return false;
    }
};

bool serveUntil(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// As in the program: a receiver graph at (0, 0) of its panel, shown, its
// paints recorded.
struct ShownGraph
{
    ShownGraph()
        : g(&host)
    {
        host.resize(610, 405);
        configureReceiverGraph(g);
        PlaceGraph(&g, 0, 0, 610, 405);
        recorder = std::make_unique<PaintRecorder>(&g);
        host.show();
    }
    // What the screen shows of the graph.
    QImage screen() const
    {
        return host.screen()->grabWindow(host.winId()).toImage().convertToFormat(QImage::Format_RGB32).copy(0, 0, 610, 405);
    }

    QWidget host;
    DBar g;
    std::unique_ptr<PaintRecorder> recorder;
};

} // namespace

TEST(DBarRepaint, aSteadyUpdateRepaintsOnlyThePlotPartsThatChanged)
{
    ShownGraph shown;
    DBar& g = shown.g;
    PaintRecorder& recorder = *shown.recorder;
    ASSERT_EQ(g.plotGeometry().plotRect, (DBarGeometry::Rect{91, 60, 518, 344}));
    ASSERT_TRUE(serveUntil([&] { return recorder.paints > 0; }));

    const auto update = [&](double level) {
        g.SetXMax(11.0);
        g.verticalLabels = true;
        g.SetBottomCaption(QStringLiteral("Frequency"));
        g.BeginBars();
        for (int k = 1; k <= 10; ++k)
            g.DrawBar(int16_t(k), QStringLiteral("851.%1").arg(k), k == 3 ? level : -100.0);
        g.EndBars(QString());
    };
    update(-80.0);
    ASSERT_TRUE(serveUntil([&] { return recorder.paints > 1; }));

    recorder.painted = QRegion();
    const int before = recorder.paints;
    update(-70.0); // the same frame but one bar
    ASSERT_TRUE(serveUntil([&] { return recorder.paints > before; }));
    const QRect plot(91, 60, 427, 284);
    EXPECT_FALSE(recorder.painted.isEmpty());
    EXPECT_TRUE((recorder.painted - QRegion(plot)).isEmpty()) << "painted outside the plot: " << [&] {
        std::string s;
        for (const QRect& r : recorder.painted)
            s += std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" + std::to_string(r.height()) + "; ";
        return s;
    }();
    // Bar 3 is at x 3 of 0..11: only its column of the plot changed.
    EXPECT_LT(recorder.painted.boundingRect().width(), 427 / 4);
}

// Updates repaint only what changed: the screen must still show the whole
// picture after every one.
TEST(DBarRepaint, theScreenShowsTheCanvasAfterEveryUpdate)
{
    ShownGraph shown;
    DBar& g = shown.g;
    PaintRecorder& recorder = *shown.recorder;
    ASSERT_TRUE(serveUntil([&] { return recorder.paints > 0; }));

    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const int before = recorder.paints;
        g.SetXMax(round < 8 ? 11.0 : 2.0);
        g.verticalLabels = round < 8;
        g.BeginBars();
        // Some bars keep their level, some rise or fall, some lose their label.
        for (int k = 1; k <= (round < 8 ? 10 : 1); ++k) {
            const double level = k % 3 == 0 ? -70.0 : -125.0 + (k * 31 + round * 47) % 95;
            g.DrawBar(int16_t(k), level > -120 ? QString::number(851.0 + k * 0.0125 * (round % 3), 'f', 4) : QString(),
                      level);
        }
        g.EndBars(QString());
        if (round == 5)
            g.SetStale(true);
        ASSERT_TRUE(serveUntil([&] { return recorder.paints > before; }));
        ASSERT_TRUE(shown.screen() == g.canvas());
    }
}

TEST(DBarRepaint, successiveUpdatesShowWhatAFreshGraphShows)
{
    // Each update repaints only what changed; after every update the screen
    // must show the picture a fresh graph shows after that update alone. The
    // later rounds keep every other bar and its wide label while the bars
    // between move under them.
    const auto update = [](DBar& g, int round) {
        const bool steady = round >= 6;
        g.SetXMax(11.0);
        g.verticalLabels = !steady && round % 2 == 0;
        g.SetBottomCaption(round % 3 == 0 ? QStringLiteral("Frequency") : QStringLiteral("Channel"));
        g.BeginBars();
        for (int k = 1; k <= 10; ++k) {
            const double level = steady && k % 2 == 1 ? -70.0 - k : -125.0 + ((k * 37 + round * 53) % 100);
            const QString label = steady ? QString::number(1500.0 + k * 0.0125, 'f', 4)
                                         : QString::number(150.0 + k * 0.0125 * round, 'f', 4);
            g.DrawBar(int16_t(k), level > -120 ? label : QString(), level);
        }
        g.EndBars(QString());
    };
    ShownGraph shown;
    DBar& g = shown.g;
    PaintRecorder& recorder = *shown.recorder;
    ASSERT_TRUE(serveUntil([&] { return recorder.paints > 0; }));
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        const int before = recorder.paints;
        update(g, round);
        ASSERT_TRUE(serveUntil([&] { return recorder.paints > before; }));
        DBar fresh;
        configureReceiverGraph(fresh);
        PlaceGraph(&fresh, 0, 0, 610, 405);
        update(fresh, round);
        const QImage screen = shown.screen();
        const QImage want = fresh.canvas();
        ASSERT_EQ(want.size(), QSize(610, 405));
        int shown = 0;
        for (int y = 0; y < want.height(); ++y)
            for (int x = 0; x < want.width(); ++x)
                if (screen.pixel(x, y) != want.pixel(x, y) && shown++ < 5)
                    ADD_FAILURE() << "differs at " << x << "," << y << " " << std::hex << screen.pixel(x, y)
                                  << " vs " << want.pixel(x, y);
    }
}

TEST(DBarLayout, valueCaptionIsNeverCoveredByTheScaleNumbers)
{
    // The panel sizes of the main window: side by side, one above the other,
    // a single panel.
    const QSize sizes[] = {{343, 453}, {684, 227}, {684, 453}, {610, 405}};
    for (const QSize& size : sizes) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        QWidget host;
        DBar with(&host), without(&host);
        for (DBar* g : {&with, &without}) {
            configureReceiverGraph(*g);
            PlaceGraph(g, 0, 0, size.width(), size.height());
        }
        without.SetValueCaption(QString());
        without.Paint();
        const int pl = with.plotGeometry().plotRect.left;
        const QImage withPicture = with.canvas(), withoutPicture = without.canvas();
        // Left of the plot: the caption's pixels are those only the captioned graph has.
        Box caption, labels;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < pl; ++x) {
                const bool a = withPicture.pixel(x, y) == kBlack;
                const bool b = withoutPicture.pixel(x, y) == kBlack;
                Box& box = a && !b ? caption : (b ? labels : caption);
                if (!(a || b))
                    continue;
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                ++box.count;
            }
        ASSERT_GT(caption.count, 20);
        ASSERT_GT(labels.count, 20);
        EXPECT_LT(caption.right, labels.left);
        // The captioned graph still shows every label pixel.
        int kept = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < pl; ++x)
                kept += withoutPicture.pixel(x, y) == kBlack && withPicture.pixel(x, y) == kBlack;
        EXPECT_EQ(kept, labels.count);
    }
}

// Every label stays whole inside the plot: above its bar where there is
// room, else inside the top of the bar.
TEST_F(DBarPaint, strongBarsKeepTheirWholeLabelInsideThePlot)
{
    const QString text = QStringLiteral("852.2500");
    const QRect plot(91, 60, 427, 284);
    const auto footprint = [&](double value, bool vertical, const QString& label) {
        g->SetXMax(vertical ? 11.0 : 2.0);
        g->verticalLabels = vertical;
        bars({{1, "", value}});
        const QImage bare = canvas();
        g->BeginBars();
        g->DrawBar(1, label, value);
        g->EndBars(QString());
        const QImage labelled = canvas();
        Box b;
        for (int y = 0; y < bare.height(); ++y)
            for (int x = 0; x < bare.width(); ++x)
                if (bare.pixel(x, y) != labelled.pixel(x, y)) {
                    b.left = std::min(b.left, x);
                    b.right = std::max(b.right, x);
                    b.top = std::min(b.top, y);
                    b.bottom = std::max(b.bottom, y);
                    ++b.count;
                }
        return b;
    };
    for (const bool vertical : {true, false}) {
        SCOPED_TRACE(vertical ? "vertical" : "horizontal");
        // A weak bar's label stands on white: what changes are its glyphs.
        const int glyphs = footprint(-100.0, vertical, text).count;
        ASSERT_GT(glyphs, 20);
        for (const double value : {-30.0, -33.0, -40.0, -45.0, -50.0, -25.0}) {
            SCOPED_TRACE(value);
            const Box label = footprint(value, vertical, text);
            ASSERT_GT(label.count, 0) << "no label";
            EXPECT_TRUE(plot.contains(QRect(QPoint(label.left, label.top), QPoint(label.right, label.bottom))));
            // Above the bar its glyphs change the picture; inside it, its
            // white cell does. Either way far more than a cut remnant.
            EXPECT_GT(label.count, glyphs * 3 / 4);
        }
    }
}

TEST(DBarLayout, theHostPanelsRaisedBevelShows)
{
    QFrame panel; // as Receiver1Panel: a raised panel, the graph filling it
    panel.setFrameShape(QFrame::Panel);
    panel.setFrameShadow(QFrame::Raised);
    panel.setAutoFillBackground(true);
    panel.resize(343, 453);
    DBar g(&panel);
    configureReceiverGraph(g);
    PlaceGraph(&g, 0, 0, panel.width(), panel.height());
    EXPECT_EQ(g.geometry(), panel.rect());

    const QImage shot = panel.grab().toImage();
    const QRgb grey = qRgb(0x80, 0x80, 0x80);
    const QRgb topLeft = shot.pixel(0, 200), bottomRight = shot.pixel(342, 200);
    EXPECT_NE(topLeft, grey);
    EXPECT_NE(bottomRight, grey);
    EXPECT_NE(topLeft, bottomRight) << "a raised bevel is light at the left, dark at the right";
    EXPECT_EQ(shot.pixel(0, 200), shot.pixel(100, 0));
    // Inside the bevel the graph is as before.
    EXPECT_EQ(shot.pixel(2, 200), grey);
    EXPECT_EQ(shot.pixel(340, 200), grey);
}

TEST(DBarLayout, aGraphResizedLooksLikeAFreshGraphOfThatSize)
{
    // Single panel, then side by side: as switching the tiling does.
    QWidget host;
    host.resize(700, 460);
    DBar resized(&host), fresh(&host);
    configureReceiverGraph(resized);
    configureReceiverGraph(fresh);
    host.show(); // resize events come at once only to a shown control
    PlaceGraph(&resized, 0, 0, 684, 453);
    resized.setGeometry(0, 0, 343, 453); // the panel's resize handler
    PlaceGraph(&fresh, 0, 0, 343, 453);
    const QImage resizedPicture = resized.canvas(), freshPicture = fresh.canvas();
    EXPECT_TRUE(resizedPicture == freshPicture);
    Box diff;
    for (int y = 0; y < 453; ++y)
        for (int x = 0; x < 343; ++x)
            if (resizedPicture.pixel(x, y) != freshPicture.pixel(x, y)) {
                diff.left = std::min(diff.left, x);
                diff.right = std::max(diff.right, x);
                diff.top = std::min(diff.top, y);
                diff.bottom = std::max(diff.bottom, y);
                ++diff.count;
            }
    EXPECT_EQ(diff.count, 0) << diff.left << "," << diff.top << " .. " << diff.right << "," << diff.bottom;
    // The caption starts inside the control.
    EXPECT_EQ(find(resizedPicture, kBlack, 0, 0, 2, 452).count, 0);
}

// Columns of different heights side by side come out of a region cut into
// bands; joined again they are one rectangle each, covering the same pixels.
TEST(DBarPaintRegion, bandsAreJoinedBackIntoColumns)
{
    const std::vector<QRect> columns = {QRect(10, 40, 20, 100), QRect(32, 5, 20, 60), QRect(54, 90, 20, 10),
                                        QRect(76, 0, 20, 200)};
    QRegion region;
    for (const QRect& r : columns)
        region += r;
    ASSERT_GT(region.rectCount(), int(columns.size())) << "the region no longer cuts columns into bands";

    std::vector<QRect> joined = BarLayer::joinColumns(region);
    const auto byLeft = [](const QRect& a, const QRect& b) { return a.left() < b.left(); };
    std::sort(joined.begin(), joined.end(), byLeft);
    EXPECT_EQ(joined, columns);

    // Touching columns merge within a band and stay cut: still the same pixels.
    const QRegion touching = QRegion(0, 0, 10, 50) + QRegion(10, 20, 10, 50);
    QRegion again;
    for (const QRect& r : BarLayer::joinColumns(touching))
        again += r;
    EXPECT_EQ(again, touching);
}
