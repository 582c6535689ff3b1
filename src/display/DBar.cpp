#include "DBar.h"

#include "display/GraphFonts.h"
#include "display/LabelCache.h"
#include "display/PlotBackground.h"
#include "display/ScalePainter.h"

#include <QFontMetrics>
#include <QFrame>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QPen>

#include <algorithm>
#include <utility>

namespace {

const QColor kGrey(0x80, 0x80, 0x80);
const QColor kBlack(0x00, 0x00, 0x00);
const QColor kBlue(0x00, 0x00, 0xFF);
const QColor kRed(0xFF, 0x00, 0x00);
// Bars of a link that was lost: clearly not live, still readable.
const QColor kStaleGrey(0xA0, 0xA0, 0xA0);

// Pixel sizes of the point sizes the graph uses, at 96 dots per inch, so the
// picture does not depend on the screen's resolution.
constexpr int kDefaultFontPixels = 11; // 8 points
constexpr int kBarFontPixels = 16;     // 12 points

QRect qrect(const DBarGeometry::Rect& r)
{
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

QRect textOut(QPainter& p, int x, int y, const QString& text, const QFont& font, const QColor& color,
              const QColor& background, int escapement = 0)
{
    return LabelCache::paintText(p, x, y, text, font, color, background, escapement);
}

// Copies the logical rectangle r of src to the same place of the painter's device.
void copyRect(QPainter& p, const QImage& src, const QRect& r)
{
    const qreal dpr = src.devicePixelRatio();
    p.drawImage(QRectF(r), src, QRectF(r.x() * dpr, r.y() * dpr, r.width() * dpr, r.height() * dpr));
}

int textWidth(const QFont& font, const QString& text)
{
    return QFontMetrics(font).horizontalAdvance(text);
}

} // namespace

DBar::DBar(QWidget* parent)
    : QWidget(parent)
{
    QFont f = GraphFonts::arial();
    f.setBold(true);
    f.setPixelSize(kDefaultFontPixels);
    setFont(f);
    m_canvasFont = f;
    QFont labelFont = GraphFonts::arial();
    labelFont.setPixelSize(kDefaultFontPixels);
    m_labels = std::make_unique<LabelCache>(labelFont);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

DBar::~DBar() = default;

void PlaceGraph(DBar* graph, int left, int top, int width, int height)
{
    graph->setGeometry(left, top, width, height);
    graph->Paint();
}

void DBar::ensureCanvas()
{
    const qreal dpr = devicePixelRatioF();
    const QSize want(qRound(width() * dpr), qRound(height() * dpr));
    if (m_canvas.size() == want && m_canvas.devicePixelRatio() == dpr)
        return;
    m_canvas = {};
    if (want.isEmpty())
        return;
    m_canvas = QImage(want, QImage::Format_RGB32);
    m_canvas.setDevicePixelRatio(dpr);
    m_canvas.fill(kGrey);
}

QRect DBar::plotArea() const
{
    return QRect(m_geometry.plotRect.left, m_geometry.plotRect.top, m_geometry.plotWidth, m_geometry.plotHeight);
}

void DBar::copyToPlot(const QImage& bitmap)
{
    if (m_canvas.isNull() || bitmap.isNull())
        return;
    QPainter p(&m_canvas);
    p.drawImage(QPoint(m_geometry.plotRect.left, m_geometry.plotRect.top), bitmap);
}

// The graph fills its host panel, but draws only inside the panel's frame:
// side by side, the raised bevels are what tell R1 from R2.
void DBar::keepOffHostFrame()
{
    const auto* host = qobject_cast<const QFrame*>(parentWidget());
    if (!host || host->frameWidth() <= 0) {
        if (!mask().isEmpty())
            clearMask();
        return;
    }
    const QRect inside = host->contentsRect().translated(-pos()) & rect();
    if (inside != rect())
        setMask(QRegion(inside));
    else if (!mask().isEmpty())
        clearMask();
}

void DBar::Paint()
{
    if (m_painting)
        return;
    m_painting = true;
    keepOffHostFrame();

    ensureCanvas();
    m_geometry.computeLayout(x(), y(), width(), height());
    if (!m_canvas.isNull())
        m_canvas.fill(kGrey);
    marginsTouched();
    RebuildBackground();
    // The value caption is placed by the control font's height, which the
    // right caption sets from this layout; taken from the previous layout,
    // as the drawing order would have it, a graph made narrower (tiling
    // switched) pushed the caption off its left edge.
    m_fontHeight = CaptionLayout(m_geometry).controlFontHeight();
    for (Caption c : {Caption::Title, Caption::Value, Caption::Right, Caption::Bottom, Caption::Note})
        setCaption(c, QStringLiteral("."));
    DrawScales();
    m_dirty = QRegion();
    update();

    m_painting = false;
}

void DBar::RebuildBackground()
{
    const DBarGeometry& g = m_geometry;
    if (m_divisions == 0)
        m_divisions = 10;
    const int lastTracePoint = traceVisible ? std::max(0, int(traceLastIndex)) : -1;
    m_background = PlotBackground::build(g, m_divisions, markers, tracePoints, lastTracePoint,
                                         m_canvas.isNull() ? devicePixelRatioF() : m_canvas.devicePixelRatio());
    m_columnUse.resize(g.plotWidth);
    m_bars.clear();
    if (m_background.isNull())
        return;
    DrawMarkers();
    copyToPlot(m_background);
    m_dirty += plotArea();
    flush();
}

// Only what a step drew goes to the screen: the display thread sets the x
// range on every update, and a whole-control repaint for each would cost
// more than the bars themselves.
void DBar::flush()
{
    if (m_dirty.isEmpty())
        return;
    update(m_dirty);
    m_dirty = QRegion();
}

// The markers' labels; their lines are in the background.
void DBar::DrawMarkers()
{
    if (m_canvas.isNull())
        return;
    const DBarGeometry& g = m_geometry;
    const int pl = g.plotRect.left, pt = g.plotRect.top, pr = g.plotRect.right, pb = g.plotRect.bottom;
    const int labelHeight = g.plotHeight / 22;
    marginsTouched();
    QPainter canvas(&m_canvas);
    for (const DBarGeometry::Rect& strip : {g.markerAboveRect, g.markerRightRect}) {
        canvas.fillRect(qrect(strip), kGrey);
        m_dirty += qrect(strip);
    }
    for (int i = 0; i < 4; ++i) {
        const Marker& m = markers[size_t(i)];
        if (!m.enabled)
            continue;
        QPoint at;
        if (i < 2) {
            const int x = std::clamp(g.ValueToPixel(XAxis, m.position), pl, pr);
            // Measured in the font the previous step left, as the layout has it.
            at = QPoint(x - textWidth(m_canvasFont, m.label) / 2, pt - 3 - labelHeight);
        } else {
            at = QPoint(pr + 5, std::clamp(g.ValueToPixel(YAxis, m.position), pt, pb));
        }
        m_canvasFont = GraphFonts::cellFont(labelHeight, true);
        m_dirty += textOut(canvas, at.x(), at.y(), m.label, m_canvasFont, kBlack, kGrey);
    }
}

DBar::ScaleKey DBar::scaleKey() const
{
    const DBarGeometry& g = m_geometry;
    return {g.yTop, g.yBottom, rightTop, rightBottom, double(m_divisions), double(rightScaleVisible),
            double(xScaleArea), double(xLabelsVisible), double(xSubLabelsVisible), double(xLabelDigits),
            double(xSubLabelDigits), g.xMin, g.xMax, double(g.plotRect.left), double(g.plotRect.top),
            double(g.plotRect.right), double(g.plotRect.bottom), double(g.outerRect.left), double(g.outerRect.top),
            double(g.outerRect.right), double(g.outerRect.bottom)};
}

bool DBar::xRowsShown() const
{
    return xScaleArea && (xLabelsVisible || xSubLabelsVisible);
}

void DBar::marginsTouched()
{
    m_scalesValid = false;
    m_bottomValid = false;
}

void DBar::DrawScales()
{
    if (m_divisions == 0)
        m_divisions = 10;
    if (m_canvas.isNull())
        return;
    // Every update sets the x range again; the margins only change when
    // something they show changed or was drawn over.
    const ScaleKey key = scaleKey();
    if (m_scalesValid && key == m_scalesKey) {
        m_canvasFont = m_scalesFont;
        return;
    }
    if (xRowsShown())
        m_bottomValid = false;
    ScalePainter::Options options;
    options.divisions = m_divisions;
    options.rightScaleVisible = rightScaleVisible;
    options.rightTop = rightTop;
    options.rightBottom = rightBottom;
    options.xScaleArea = xScaleArea;
    options.xLabelsVisible = xLabelsVisible;
    options.xSubLabelsVisible = xSubLabelsVisible;
    options.xLabelDigits = xLabelDigits;
    options.xSubLabelDigits = xSubLabelDigits;
    QPainter p(&m_canvas);
    m_dirty += ScalePainter::draw(p, m_geometry, options, valueCaptionRight() + 2, m_canvasFont);
    scalesDrawn(key);
}

void DBar::scalesDrawn(const ScaleKey& key)
{
    m_scalesValid = true;
    m_scalesKey = key;
    m_scalesFont = m_canvasFont;
    flush();
}

// Each range setter recomputes its scale from the last layout and redraws
// the scales at once.
void DBar::setRange(double DBarGeometry::*end, double value)
{
    m_geometry.*end = value;
    if (end == &DBarGeometry::xMin || end == &DBarGeometry::xMax)
        m_geometry.recomputeXScale();
    else
        m_geometry.recomputeYScale();
    DrawScales();
    flush();
}

void DBar::setCaption(Caption which, const QString& text)
{
    if (text != QLatin1String("."))
        m_captions[size_t(which)] = text;
    // Drawing the right caption sets the control font, which places the
    // rotated captions.
    if (which == Caption::Right)
        m_fontHeight = CaptionLayout(m_geometry).controlFontHeight();
    drawCaption(which);
}

void DBar::drawCaption(Caption which)
{
    if (m_canvas.isNull())
        return;
    const QString& text = caption(which);
    // The bottom caption shares its margin with the x scale rows, redrawn on
    // every update: unchanged and not drawn over, it stays as it is.
    const bool bottom = which == Caption::Bottom;
    if (bottom && m_bottomValid && m_bottomDrawn == text) {
        m_canvasFont = m_bottomFont;
        return;
    }
    if (!bottom)
        marginsTouched();
    const CaptionLayout layout(m_geometry);
    const CaptionLayout::Style style = layout.style(which, m_fontHeight);
    QPainter p(&m_canvas);
    if (const auto band = layout.band(which)) {
        if (band->right > band->left && band->bottom > band->top)
            p.fillRect(qrect(*band), kGrey);
        m_dirty += qrect(*band);
    }
    int height = style.height, fittedX = 0;
    if (style.fitted) {
        const DBarGeometry::FontFit fit =
            m_geometry.fitCaption(style.height, [&](int h) { return textWidth(GraphFonts::cellFont(h, style.bold), text); });
        height = fit.height;
        fittedX = fit.x;
    }
    const QFont font = GraphFonts::cellFont(height, style.bold);
    const int cellHeight = style.fitted ? height : QFontMetrics(font).height();
    const CaptionLayout::Point at = layout.origin(which, textWidth(font, text), cellHeight, fittedX, m_fontHeight);
    m_dirty += textOut(p, at.x, at.y, text, font, style.blue ? kBlue : kBlack, kGrey, style.escapement);
    // The upright captions leave their font on the canvas, as the drawing
    // steps that measure in the font left behind expect.
    if (style.escapement == 0)
        m_canvasFont = font;
    if (bottom) {
        // Its band crosses only the x scale rows, unless the text overflows the plot's width.
        if (xRowsShown() || fittedX < m_geometry.plotRect.left)
            m_scalesValid = false;
        m_bottomValid = true;
        m_bottomDrawn = text;
        m_bottomFont = m_canvasFont;
    }
    flush();
}

int DBar::valueCaptionRight() const
{
    const CaptionLayout layout(m_geometry);
    const QFont f = GraphFonts::cellFont(layout.style(Caption::Value, m_fontHeight).height, false);
    return layout.origin(Caption::Value, 0, 0, 0, m_fontHeight).x + QFontMetrics(f).height();
}

void DBar::BeginBars()
{
    m_columnUse.clear();
    m_pending.clear();
    if (!xScaleArea && !m_canvas.isNull()) {
        const DBarGeometry& g = m_geometry;
        marginsTouched();
        const QRect legend(g.plotRect.left, g.plotRect.bottom + 5, g.plotWidth, 30);
        QPainter p(&m_canvas);
        if (!legend.isEmpty())
            p.fillRect(legend, kGrey);
        m_dirty += legend;
    }
}

void DBar::DrawBar(int16_t x, const QString& label, double value)
{
    const DBarGeometry& g = m_geometry;
    if (g.plotRect.top == g.plotRect.bottom || g.plotRect.left == g.plotRect.right || g.plotWidth <= 0
        || g.plotHeight <= 0 || m_background.isNull())
        return;
    const int px = g.ValueToPixel(XAxis, x);
    if (px < g.plotRect.left || px > g.plotRect.right)
        return;
    const int py = std::clamp(g.ValueToPixel(YAxis, value), g.plotRect.top, g.plotRect.bottom);

    m_canvasFont.setPixelSize(kBarFontPixels);

    const int bx = m_columnUse.place(px - g.plotRect.left);
    const int by = py - g.plotRect.top;
    const int hw = g.barHalfWidth(barWidthDivisor);

    BarShape bar;
    bar.bar = QRect(QPoint(bx - hw, by), QPoint(bx + hw - 1, g.plotHeight - 1));
    const bool underMouse =
        m_mouseX >= bx - hw && m_mouseX <= bx + hw && m_mouseY >= by && m_mouseY <= g.plotHeight;
    if (alwaysLabel || underMouse) {
        // Labels are at most a frequency with four decimals; anything longer is cut.
        bar.text = label.left(kMaxLabelLength);
        const int w = m_labels->advance(bar.text), h = m_labels->height();
        const int e = verticalLabels ? h : w;
        const DBarGeometry::LabelSpot spot = g.labelPlace(bx - e / 2, by, w, h, verticalLabels);
        bar.placeLabel(QPoint(spot.x, spot.y), w, h, verticalLabels);
    }
    m_pending.push_back(bar);
}

void DBar::EndBars(const QString& legend)
{
    const DBarGeometry& g = m_geometry;
    if (!xScaleArea && !m_canvas.isNull()) {
        marginsTouched();
        QPainter p(&m_canvas);
        m_dirty += textOut(p, g.plotWidth / 2 + g.plotRect.left - textWidth(m_canvasFont, legend) / 2,
                           g.plotRect.bottom + 5, legend, m_canvasFont, kBlack, kGrey);
    }
    const std::vector<BarShape> bars = std::move(m_pending);
    m_pending.clear();
    m_stale = false;
    m_dirty += m_bars.show(bars, barColor, plotArea());
    flush();
}

void DBar::SetStale(bool stale)
{
    if (stale == m_stale)
        return;
    m_stale = stale;
    const std::vector<BarShape> bars = m_bars.bars();
    m_dirty += m_bars.show(bars, stale ? kStaleGrey : barColor, plotArea());
    flush();
}

QImage DBar::canvas() const
{
    QImage picture = m_canvas;
    if (!picture.isNull()) {
        QPainter p(&picture);
        m_bars.paint(p, rect(), plotArea(), *m_labels);
    }
    return picture;
}

void DBar::MouseMove(int x, int y)
{
    const DBarGeometry& g = m_geometry;
    m_mouseX = x - g.plotRect.left;
    m_mouseY = y - g.plotRect.top;
    if (!readoutEnabled || m_canvas.isNull())
        return;
    const QString text = QString::asprintf("MOUSE POSITION = (%.0f)(%.2f)", g.PixelToValue(XAxis, x),
                                           g.PixelToValue(YAxis, y));
    const int top = g.plotRect.top - g.outerRect.top;
    marginsTouched();
    QPainter p(&m_canvas);
    p.fillRect(qrect(g.readoutRect), kGrey);
    m_dirty += qrect(g.readoutRect);
    m_canvasFont = GraphFonts::cellFont(top / 5, true);
    const int h = QFontMetrics(m_canvasFont).height();
    m_dirty += textOut(p, g.outerWidth / 2 - textWidth(m_canvasFont, text) / 2, 4 * top / 5 + g.outerRect.top - h / 8,
                       text, m_canvasFont, kRed, kGrey);
    flush();
}

void DBar::MouseUp(Button button, int x, int y)
{
    if (!zoomEnabled)
        return;
    const auto range = m_geometry.zoomRange(button, x, y, zoomLow, zoomHigh, zoomMinSpan);
    if (!range)
        return;
    SetXMin(range->low);
    SetXMax(range->high);
    RebuildBackground();
}

void DBar::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    if (m_canvas.isNull()) {
        p.fillRect(rect(), kGrey);
        return;
    }
    // Under the paint's own clip, a region of several rectangles, the raster
    // engine cannot blit: it blends span by span and hands tall copies to
    // its thread pool (a wake-up of the pool and of this thread per 64
    // rows). Clipped to the one rectangle being copied, each is a blit.
    const QRect plot = plotArea();
    for (const QRect& r : BarLayer::joinColumns(event->region())) {
        p.setClipRect(r);
        copyRect(p, m_canvas, r);
        m_bars.paint(p, r, plot, *m_labels);
    }
}

void DBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Paint();
}

void DBar::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    MouseMove(pos.x(), pos.y());
}

void DBar::mouseReleaseEvent(QMouseEvent* event)
{
    static constexpr std::pair<Qt::MouseButton, Button> kButtons[] = {
        {Qt::LeftButton, Button::Left}, {Qt::RightButton, Button::Right}, {Qt::MiddleButton, Button::Middle}};
    const QPoint pos = event->position().toPoint();
    for (const auto& [qtButton, button] : kButtons)
        if (event->button() == qtButton)
            MouseUp(button, pos.x(), pos.y());
}
