#pragma once

#include "display/BarColumns.h"
#include "display/BarLayer.h"
#include "display/BarShape.h"
#include "display/CaptionLayout.h"
#include "display/DBarGeometry.h"
#include "display/PlotBackground.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRegion>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class LabelCache;

// Bar graph of one receiver's RSSI against a value scale.
//
// Drawn in two layers. The canvas holds the control's picture but for the
// bars: margins, scales, captions, and in the plot the background bitmap
// (grid, markers and trace, changed only on Paint or zoom). The bars are
// kept as shapes and painted over it on every paint, so a bar update draws
// nothing itself: it only asks for a repaint of where the bars changed, and
// the screen gets the whole update in one paint. Every operation may be
// called at any time on the window thread.
//
// Its owner sets ranges and captions through the setters and writes the
// options below directly; everything else is the control's own.
class DBar : public QWidget
{
    Q_OBJECT
public:
    using Marker = PlotBackground::Marker;
    using TracePoint = PlotBackground::TracePoint;
    static constexpr int kTracePoints = PlotBackground::kTracePoints;
    static constexpr int kMaxLabelLength = 17;
    using Button = DBarGeometry::Button;
    using Caption = CaptionLayout::Caption;
    static constexpr int XAxis = DBarGeometry::XAxis;
    static constexpr int YAxis = DBarGeometry::YAxis;

    explicit DBar(QWidget* parent = nullptr);
    ~DBar() override;

    // Lays out, rebuilds the background and redraws captions and scales; the
    // plot then shows the empty grid until the next bar update. A Paint
    // nested inside another returns at once.
    void Paint();
    void RebuildBackground();
    void DrawScales();

    void SetXMin(double value) { setRange(&DBarGeometry::xMin, value); }
    void SetXMax(double value) { setRange(&DBarGeometry::xMax, value); }
    void SetYBottom(double value) { setRange(&DBarGeometry::yBottom, value); }
    void SetYTop(double value) { setRange(&DBarGeometry::yTop, value); }

    // A caption of exactly "." redraws the stored one.
    void SetTitle(const QString& text) { setCaption(Caption::Title, text); }
    void SetValueCaption(const QString& text) { setCaption(Caption::Value, text); }
    void SetBottomCaption(const QString& text) { setCaption(Caption::Bottom, text); }

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

    int ValueToPixel(int axis, double value) const { return m_geometry.ValueToPixel(axis, value); }
    double PixelToValue(int axis, int pixel) const { return m_geometry.PixelToValue(axis, pixel); }

    // The control's picture as the screen shows it, in device pixels.
    QImage canvas() const;
    // The layout and the value/pixel mapping of the last Paint and range setters.
    const DBarGeometry& plotGeometry() const { return m_geometry; }
    double xMin() const { return m_geometry.xMin; }
    double xMax() const { return m_geometry.xMax; }
    double yBottom() const { return m_geometry.yBottom; }
    double yTop() const { return m_geometry.yTop; }
    const QString& titleText() const { return caption(Caption::Title); }
    const QString& valueCaption() const { return caption(Caption::Value); }
    const QString& bottomCaption() const { return caption(Caption::Bottom); }
    // The last pointer position, relative to the plot's top-left corner.
    int mouseX() const { return m_mouseX; }
    int mouseY() const { return m_mouseY; }

    // Options the owner writes.
    double rightBottom = 0.0;
    double rightTop = 0.0;
    std::array<TracePoint, kTracePoints> tracePoints{};
    int16_t traceLastIndex = 0;
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
    bool verticalLabels = false;
    bool alwaysLabel = true;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setRange(double DBarGeometry::*end, double value);
    const QString& caption(Caption which) const { return m_captions[size_t(which)]; }
    // Stores text unless it is ".", then draws the stored caption.
    void setCaption(Caption which, const QString& text);
    void drawCaption(Caption which);

    void DrawMarkers();
    void ensureCanvas();
    void keepOffHostFrame();
    int valueCaptionRight() const; // first column right of the value caption
    void flush(); // asks for a repaint of what was drawn since the last flush
    void copyToPlot(const QImage& bitmap);
    QRect plotArea() const; // the plot, control coordinates

    using ScaleKey = std::array<double, 21>;
    ScaleKey scaleKey() const;
    void scalesDrawn(const ScaleKey& key);
    // Something drew into the margins: the scales and bottom caption must be
    // drawn again even if unchanged.
    void marginsTouched();
    bool xRowsShown() const;

    DBarGeometry m_geometry;
    std::array<QString, CaptionLayout::kCount> m_captions;
    int16_t m_divisions = 0;   // value divisions of the grid and scale; 10 from first use
    QImage m_background;       // grid, markers and trace: the plot without bars
    BarColumns m_columnUse;
    int m_mouseX = 0;
    int m_mouseY = 0;
    bool m_painting = false;   // within Paint

    QImage m_canvas;
    QFont m_canvasFont;        // the canvas font as the drawing steps leave it
    std::unique_ptr<LabelCache> m_labels; // the bar labels' font, advances and pictures
    int m_fontHeight = 11;     // the control font's height, pixels (8 points)

    std::vector<BarShape> m_pending; // the update being drawn, shown by EndBars
    BarLayer m_bars;
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
