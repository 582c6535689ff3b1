#pragma once

#include "display/BarColumns.h"
#include "display/DBarGeometry.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRegion>
#include <QString>
#include <QWidget>

class LabelCache;
class QPainter;

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// Bar graph of one receiver's RSSI against a value scale.
//
// Drawn in two layers. The canvas holds the control's picture but for the
// bars: margins, scales, captions, and in the plot the background bitmap
// (grid, markers and trace, changed only on Paint or zoom). The bars are
// kept as shapes and painted over it on every paint, so a bar update draws
// nothing itself: it only asks for a repaint of where the bars changed, and
// the screen gets the whole update in one paint. Every operation may be
// called at any time on the window thread.
class DBar : public QWidget, public DBarGeometry
{
    Q_OBJECT
public:
    struct Marker
    {
        bool enabled = false;
        QColor color{Qt::black};
        double position = 0.0; // x for markers 1 and 2, y for markers 3 and 4
        QString label;
    };
    struct TracePoint
    {
        double x = 0.0;
        double y = 0.0;
    };
    static constexpr int kTracePoints = 100;
    static constexpr int kMaxLabelLength = 17;

    explicit DBar(QWidget* parent = nullptr);
    ~DBar() override;

    // Lays out, rebuilds the background and redraws captions and scales; the
    // plot then shows the empty grid until the next bar update.
    void Paint();
    void RebuildBackground();
    void DrawScales();

    void SetXMin(double value);
    void SetXMax(double value);
    void SetYBottom(double value);
    void SetYTop(double value);

    // A caption of exactly "." redraws the stored one.
    void SetTitle(const QString& text);
    void SetValueCaption(const QString& text);
    void SetRightCaption(const QString& text);
    void SetBottomCaption(const QString& text);
    void SetNote(const QString& text);

    void BeginBars();
    void DrawBar(int16_t x, const QString& label, double value);
    void EndBars(const QString& legend);

    // Greys the bars shown (and their labels) while their data are not live,
    // such as while the link is lost; the next bar update draws in colour.
    void SetStale(bool stale);
    bool stale() const { return m_stale; }

    // Control coordinates.
    void MouseMove(int x, int y);
    void MouseUp(Button button, int x, int y);

    // The control's picture as the screen shows it, in device pixels.
    QImage canvas() const;
    // The region's rectangles, those stacked in one column joined into one.
    static std::vector<QRect> joinColumns(const QRegion& region);

    QString titleText;
    QString valueCaption;
    QString bottomCaption;
    QString noteText;
    QString rightCaption;

    double rightBottom = 0.0;
    double rightTop = 0.0;
    int16_t divisions = 0;

    QImage backgroundBitmap;

    int mouseX = 0; // relative to the plot's top-left corner
    int mouseY = 0;

    std::array<TracePoint, kTracePoints> tracePoints{};
    std::array<Marker, 4> markers{};

    bool rightScaleVisible = false;
    bool xSubLabelsVisible = false;
    bool xLabelsVisible = false;
    int16_t xLabelDigits = 0;
    int16_t xSubLabelDigits = 0;
    double zoomLow = 0.0;
    double zoomHigh = 0.0;
    double zoomMinSpan = 0.0;
    bool xScaleArea = true;
    QColor barColor{0x00, 0x00, 0xFF};
    bool readoutEnabled = false;
    bool zoomEnabled = true;
    int16_t barWidthDivisor = 1;
    bool traceVisible = false;
    int16_t traceLastIndex = 0;
    BarColumns columnUse;
    bool verticalLabels = false;
    bool alwaysLabel = true;

    // Blocks a Paint nested inside another (shared by every graph).
    static bool paintGuard;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void DrawMarkers();
    void DrawTrace();
    void ensureCanvas();
    void keepOffHostFrame();
    static constexpr int kValueCaptionHeight = 14; // pixels
    int valueCaptionX() const;
    int valueCaptionRight() const; // first column right of the value caption
    void flush(); // asks for a repaint of what was drawn since the last flush
    void copyToPlot(const QImage& bitmap);
    QImage makeBitmap(int width, int height, const QColor& fill) const;

    using ScaleKey = std::array<double, 21>;
    ScaleKey scaleKey() const;
    void scalesDrawn(const ScaleKey& key);
    // Something drew into the margins: the scales and bottom caption must be
    // drawn again even if unchanged.
    void marginsTouched();
    bool xRowsShown() const;

    QImage m_canvas;
    QFont m_canvasFont;        // the canvas font as the drawing steps leave it
    std::unique_ptr<LabelCache> m_labels; // the bar labels' font, advances and pictures
    int m_fontHeight = 11;     // the control font's height, pixels (8 points)

    // A bar of the current update, shown by EndBars (plot coordinates).
    struct PendingBar
    {
        QRect bar;
        bool labelled = false;
        bool vertical = false;
        QString text;
        QPoint labelAt;
        QRect cell;
        bool operator==(const PendingBar& other) const;
        QRect area(const QRect& plot) const; // bounds what it may paint, within plot
        // Bounds the pixels that differ between `was` drawn in a colour and
        // this bar drawn in the same colour, within plot.
        QRect changedFrom(const PendingBar& was, const QRect& plot) const;
        bool sameLabel(const PendingBar& other) const;
        // What drawing the label may touch: its cell and the outline around it.
        QRect labelBounds() const { return cell.adjusted(-2, -2, 2, 2); }
    };
    // Makes bars the ones shown and asks for a repaint of where they differ
    // from those shown before.
    void showBars(const std::vector<PendingBar>& bars, const QColor& colour);
    static QRegion repaintArea(const std::vector<QRect>& changed);
    void paintBars(QPainter& p, const QRect& clip) const;
    std::vector<PendingBar> m_pending;
    std::vector<PendingBar> m_shownBars; // as painted, in drawing order
    QColor m_shownColour;
    bool m_stale = false;
    QRegion m_dirty;           // parts of the picture changed but not yet asked to be repainted
    bool m_scalesValid = false;
    ScaleKey m_scalesKey{};
    QFont m_scalesFont;
    bool m_bottomValid = false;
    QString m_bottomDrawn;
    QFont m_bottomFont;
};

// Places the graph in its host and repaints it at once.
void PlaceGraph(DBar* graph, int left, int top, int width, int height);
