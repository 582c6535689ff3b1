#include "DBar.h"

#include "display/GraphFonts.h"
#include "display/LabelCache.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QFrame>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QPen>
#include <QRegion>

#include <algorithm>
#include <tuple>

namespace {

const QColor kGrey(0x80, 0x80, 0x80);
const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kBlack(0x00, 0x00, 0x00);
const QColor kBlue(0x00, 0x00, 0xFF);
const QColor kMaroon(0x80, 0x00, 0x00);
const QColor kRed(0xFF, 0x00, 0x00);
// Bars of a link that was lost: clearly not live, still readable.
const QColor kStaleGrey(0xA0, 0xA0, 0xA0);

// Pixel sizes of the point sizes the graph uses, at 96 dots per inch, so the
// picture does not depend on the screen's resolution.
constexpr int kDefaultFontPixels = 11; // 8 points
constexpr int kBarFontPixels = 16;     // 12 points

QFont arial()
{
    return GraphFonts::arial();
}

QFont cellFont(int cellHeight, bool bold)
{
    return GraphFonts::cellFont(cellHeight, bold);
}

QImage newImage(int width, int height, qreal dpr, const QColor& fill)
{
    if (width <= 0 || height <= 0)
        return {};
    QImage img(qRound(width * dpr), qRound(height * dpr), QImage::Format_RGB32);
    img.setDevicePixelRatio(dpr);
    img.fill(fill);
    return img;
}

QRect qrect(const DBarGeometry::Rect& r)
{
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

void fill(QPainter& p, int left, int top, int right, int bottom, const QColor& c)
{
    if (right > left && bottom > top)
        p.fillRect(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)), c);
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
    p.drawImage(QRectF(r), src,
                QRectF(r.x() * dpr, r.y() * dpr, r.width() * dpr, r.height() * dpr));
}

int textWidth(const QFont& font, const QString& text)
{
    return QFontMetrics(font).horizontalAdvance(text);
}

} // namespace

bool DBar::paintGuard = false;

DBar::DBar(QWidget* parent)
    : QWidget(parent)
{
    QFont f = arial();
    f.setBold(true);
    f.setPixelSize(kDefaultFontPixels);
    setFont(f);
    m_canvasFont = f;
    QFont labelFont = arial();
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
    if (m_canvas.size() != want || m_canvas.devicePixelRatio() != dpr)
        m_canvas = newImage(width(), height(), dpr, kGrey);
}

QImage DBar::makeBitmap(int width, int height, const QColor& fillColor) const
{
    return newImage(width, height, m_canvas.isNull() ? devicePixelRatioF() : m_canvas.devicePixelRatio(),
                    fillColor);
}

void DBar::copyToPlot(const QImage& bitmap)
{
    if (m_canvas.isNull() || bitmap.isNull())
        return;
    QPainter p(&m_canvas);
    p.drawImage(QPoint(plotRect.left, plotRect.top), bitmap);
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
    if (paintGuard)
        return;
    paintGuard = true;
    keepOffHostFrame();

    ensureCanvas();
    computeLayout(x(), y(), width(), height());
    if (!m_canvas.isNull())
        m_canvas.fill(kGrey);
    marginsTouched();
    RebuildBackground();
    // The value caption is placed by the control font's height, which the
    // right caption sets from this layout; taken from the previous layout,
    // as the drawing order would have it, a graph made narrower (tiling
    // switched) pushed the caption off its left edge.
    m_fontHeight = (plotRect.left - outerRect.left) / 3;
    SetTitle(QStringLiteral("."));
    SetValueCaption(QStringLiteral("."));
    SetRightCaption(QStringLiteral("."));
    SetBottomCaption(QStringLiteral("."));
    SetNote(QStringLiteral("."));
    DrawScales();
    m_dirty = QRegion();
    update();

    paintGuard = false;
}

void DBar::RebuildBackground()
{
    backgroundBitmap = makeBitmap(plotWidth, plotHeight, kWhite);
    columnUse.resize(plotWidth);
    m_shownBars.clear();
    if (divisions == 0)
        divisions = 10;
    if (backgroundBitmap.isNull())
        return;
    {
        QPainter p(&backgroundBitmap);
        p.setPen(QPen(kGrey, 1));
        for (int i = 0; i <= divisions; ++i) {
            const int y = i * plotHeight / divisions;
            p.drawLine(0, y, plotWidth, y);
        }
    }
    DrawMarkers();
    DrawTrace();
    copyToPlot(backgroundBitmap);
    m_dirty += QRect(plotRect.left, plotRect.top, plotWidth, plotHeight);
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

void DBar::DrawMarkers()
{
    if (m_canvas.isNull() || backgroundBitmap.isNull())
        return;
    const int pl = plotRect.left, pt = plotRect.top, pr = plotRect.right, pb = plotRect.bottom;
    marginsTouched();
    QPainter canvas(&m_canvas);
    canvas.fillRect(qrect(markerAboveRect), kGrey);
    canvas.fillRect(qrect(markerRightRect), kGrey);
    m_dirty += qrect(markerAboveRect);
    m_dirty += qrect(markerRightRect);
    QPainter bg(&backgroundBitmap);
    QPen pen(kGrey, 1, Qt::DashLine);

    for (int i = 0; i < 2; ++i) {
        const Marker& m = markers[i];
        if (!m.enabled)
            continue;
        pen.setColor(m.color);
        bg.setPen(pen);
        const int x = std::clamp(ValueToPixel(XAxis, m.position), pl, pr);
        bg.drawLine(x - pl, 0, x - pl, pb - pt);
        const int w = textWidth(m_canvasFont, m.label);
        m_canvasFont = cellFont(plotHeight / 22, true);
        m_dirty += textOut(canvas, x - w / 2, pt - 3 - plotHeight / 22, m.label, m_canvasFont, kBlack, kGrey);
    }
    for (int i = 2; i < 4; ++i) {
        const Marker& m = markers[i];
        if (!m.enabled)
            continue;
        pen.setColor(m.color);
        bg.setPen(pen);
        const int y = std::clamp(ValueToPixel(YAxis, m.position), pt, pb);
        bg.drawLine(0, y - pt, pr - pl, y - pt);
        m_canvasFont = cellFont(plotHeight / 22, true);
        m_dirty += textOut(canvas, pr + 5, y, m.label, m_canvasFont, kBlack, kGrey);
    }
}

void DBar::DrawTrace()
{
    if (!traceVisible || backgroundBitmap.isNull())
        return;
    const int pl = plotRect.left, pt = plotRect.top, pr = plotRect.right, pb = plotRect.bottom;
    QPainter bg(&backgroundBitmap);
    bg.setPen(QPen(kMaroon, 1));
    QPoint last;
    const int n = std::clamp(int(traceLastIndex), 0, kTracePoints - 1);
    for (int i = 0; i <= n; ++i) {
        const int x = std::clamp(ValueToPixel(XAxis, tracePoints[i].x), pl, pr);
        const int y = std::clamp(ValueToPixel(YAxis, tracePoints[i].y), pt, pb);
        const QPoint pnt(x - pl, y - pt);
        if (i > 0)
            bg.drawLine(last, pnt);
        last = pnt;
    }
}

DBar::ScaleKey DBar::scaleKey() const
{
    return {yTop, yBottom, rightTop, rightBottom, double(divisions), double(rightScaleVisible),
            double(xScaleArea), double(xLabelsVisible), double(xSubLabelsVisible), double(xLabelDigits),
            double(xSubLabelDigits), xMin, xMax, double(plotRect.left), double(plotRect.top),
            double(plotRect.right), double(plotRect.bottom), double(outerRect.left), double(outerRect.top),
            double(outerRect.right), double(outerRect.bottom)};
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
    if (divisions == 0)
        divisions = 10;
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
    const int pl = plotRect.left, pt = plotRect.top, pb = plotRect.bottom;
    const int ph = plotHeight, pw = plotWidth;
    QPainter p(&m_canvas);

    const QString topText = QString::asprintf("%.1f", yTop);
    const QString bottomText = QString::asprintf("%.1f", yBottom);
    const FontFit fit = fitScaleFont(
        [&](int h) {
            const QFont f = cellFont(h, true);
            return std::max(textWidth(f, topText), textWidth(f, bottomText));
        },
        valueCaptionRight() + 2,
        [&](int h) {
            const QFont f = cellFont(h, true);
            int widest = 0;
            for (int k = 0; k <= divisions; ++k)
                widest = std::max(widest, textWidth(f, QString::fromStdString(leftScaleText(k, divisions))));
            return widest;
        });
    m_canvasFont = cellFont(fit.height, true);
    const int firstY = pt - fit.height / 2;

    p.fillRect(qrect(leftScaleRect), kGrey);
    m_dirty += qrect(leftScaleRect);
    for (int s = 0; s <= divisions; ++s) {
        const QString text = QString::fromStdString(leftScaleText(s, divisions));
        m_dirty += textOut(p, fit.x, s * ph / divisions + firstY, text, m_canvasFont, kBlack, kGrey);
    }

    if (rightScaleVisible) {
        const int rightX = plotRect.right + 2;
        m_canvasFont = cellFont(ph / 12, true);
        p.fillRect(qrect(rightScaleRect), kGrey);
        m_dirty += qrect(rightScaleRect);
        for (int s = 0; s <= divisions; ++s) {
            const QString text =
                QString::asprintf("%.1f", rightTop - s * (rightTop - rightBottom) / divisions);
            m_dirty += textOut(p, rightX, s * ph / divisions + firstY, text, m_canvasFont, kBlue, kGrey);
        }
    }

    if (!xScaleArea) {
        scalesDrawn(key);
        return;
    }
    const int fontHeight = QFontMetrics(m_canvasFont).height();
    if (xLabelsVisible) {
        const int rowY = pb + 8;
        p.fillRect(qrect(xScaleRect), kGrey);
        m_dirty += qrect(xScaleRect);
        for (int s = 0; s <= 8; ++s) {
            const double v = xMin + s * (xMax - xMin) * 0.125;
            const QString text = QString::asprintf("%.*f", int(xLabelDigits), v);
            m_dirty += textOut(p, s * pw / 8 + pl - textWidth(m_canvasFont, text) / 2, rowY, text,
                    m_canvasFont, kBlack, kGrey);
        }
    }
    if (xSubLabelsVisible) {
        const int rowY = fontHeight + (pb + 8) + 1;
        for (int s = 0; s <= 8; ++s) {
            const double v = (xMin + s * (xMax - xMin) * 0.125) * 0.0078125;
            const QString text = QString::asprintf("%.*f", int(xSubLabelDigits), v);
            m_dirty += textOut(p, s * pw / 8 + pl - 4, rowY, text, m_canvasFont, kBlue, kGrey);
        }
    }
    scalesDrawn(key);
}

void DBar::scalesDrawn(const ScaleKey& key)
{
    m_scalesValid = true;
    m_scalesKey = key;
    m_scalesFont = m_canvasFont;
    flush();
}

void DBar::SetXMin(double value)
{
    xMin = value;
    recomputeXScale();
    DrawScales();
    flush();
}

void DBar::SetXMax(double value)
{
    xMax = value;
    recomputeXScale();
    DrawScales();
    flush();
}

void DBar::SetYBottom(double value)
{
    yBottom = value;
    recomputeYScale();
    DrawScales();
    flush();
}

void DBar::SetYTop(double value)
{
    yTop = value;
    recomputeYScale();
    DrawScales();
    flush();
}

namespace {
bool keepsStored(const QString& text)
{
    return text == QLatin1String(".");
}
} // namespace

void DBar::SetTitle(const QString& text)
{
    if (!keepsStored(text))
        titleText = text;
    if (m_canvas.isNull())
        return;
    const int ot = outerRect.top, pt = plotRect.top;
    marginsTouched();
    QPainter p(&m_canvas);
    fill(p, plotRect.left, ot + (pt - ot) / 4, plotRect.right, ot + 3 * (pt - ot) / 4, kGrey);
    m_dirty += QRect(QPoint(plotRect.left, ot + (pt - ot) / 4), QPoint(plotRect.right - 1, ot + 3 * (pt - ot) / 4 - 1));
    const FontFit fit = fitCaption((pt - ot) / 2, [&](int h) { return textWidth(cellFont(h, true), titleText); });
    m_canvasFont = cellFont(fit.height, true);
    m_dirty += textOut(p, fit.x, ot + (pt - ot) / 2 - fit.height / 2, titleText, m_canvasFont, kBlack, kGrey);
    flush();
}

void DBar::SetBottomCaption(const QString& text)
{
    if (!keepsStored(text))
        bottomCaption = text;
    if (m_canvas.isNull())
        return;
    const int ob = outerRect.bottom, pb = plotRect.bottom;
    if (m_bottomValid && m_bottomDrawn == bottomCaption) {
        m_canvasFont = m_bottomFont;
        return;
    }
    QPainter p(&m_canvas);
    fill(p, plotRect.left, pb + (ob - pb) / 4, plotRect.right, pb + 3 * (ob - pb) / 4, kGrey);
    m_dirty += QRect(QPoint(plotRect.left, pb + (ob - pb) / 4), QPoint(plotRect.right - 1, pb + 3 * (ob - pb) / 4 - 1));
    const FontFit fit =
        fitCaption((ob - pb) / 2, [&](int h) { return textWidth(cellFont(h, true), bottomCaption); });
    m_canvasFont = cellFont(fit.height, true);
    m_dirty += textOut(p, fit.x, pb + (ob - pb) / 2 - fit.height / 2, bottomCaption, m_canvasFont, kBlack, kGrey);
    // Its band crosses only the x scale rows, unless the text overflows the plot's width.
    if (xRowsShown() || fit.x < plotRect.left)
        m_scalesValid = false;
    m_bottomValid = true;
    m_bottomDrawn = bottomCaption;
    m_bottomFont = m_canvasFont;
    flush();
}

// The rotated caption's cell runs from its x rightward by the font's height.
int DBar::valueCaptionX() const
{
    return outerRect.left + (plotRect.left - outerRect.left) / 4 - m_fontHeight / 2;
}

int DBar::valueCaptionRight() const
{
    return valueCaptionX() + QFontMetrics(cellFont(kValueCaptionHeight, false)).height();
}

void DBar::SetValueCaption(const QString& text)
{
    if (!keepsStored(text))
        valueCaption = text;
    if (m_canvas.isNull())
        return;
    const QFont f = cellFont(kValueCaptionHeight, false);
    const int x = valueCaptionX();
    const int y = outerHeight / 2 + textWidth(f, valueCaption) / 2;
    marginsTouched();
    QPainter p(&m_canvas);
    m_dirty += textOut(p, x, y, valueCaption, f, kBlack, kGrey, 900);
    flush();
}

void DBar::SetRightCaption(const QString& text)
{
    if (!keepsStored(text))
        rightCaption = text;
    m_fontHeight = (plotRect.left - outerRect.left) / 3;
    if (m_canvas.isNull())
        return;
    const QFont f = cellFont(m_fontHeight, false);
    const int x = outerRect.right - (outerRect.right - plotRect.right) / 4 + m_fontHeight / 2;
    const int y = outerHeight / 2 - textWidth(f, rightCaption) / 2;
    marginsTouched();
    QPainter p(&m_canvas);
    m_dirty += textOut(p, x, y, rightCaption, f, kBlue, kGrey, 2700);
    flush();
}

void DBar::SetNote(const QString& text)
{
    if (!keepsStored(text))
        noteText = text;
    if (m_canvas.isNull())
        return;
    m_canvasFont = cellFont((outerRect.bottom - plotRect.bottom) / 3, true);
    const int h = QFontMetrics(m_canvasFont).height();
    marginsTouched();
    QPainter p(&m_canvas);
    m_dirty += textOut(p, 3 * outerWidth / 4 - textWidth(m_canvasFont, noteText) / 2, outerRect.bottom - h - 3,
                       noteText, m_canvasFont, kBlue, kGrey);
    flush();
}

void DBar::BeginBars()
{
    columnUse.clear();
    m_pending.clear();
    if (!xScaleArea && !m_canvas.isNull()) {
        marginsTouched();
        QPainter p(&m_canvas);
        fill(p, plotRect.left, plotRect.bottom + 5, plotRect.left + plotWidth, plotRect.bottom + 35, kGrey);
        m_dirty += QRect(plotRect.left, plotRect.bottom + 5, plotWidth, 30);
    }
}

void DBar::DrawBar(int16_t x, const QString& label, double value)
{
    if (plotRect.top == plotRect.bottom || plotRect.left == plotRect.right || plotWidth <= 0
        || plotHeight <= 0 || backgroundBitmap.isNull())
        return;
    const int px = ValueToPixel(XAxis, x);
    if (px < plotRect.left || px > plotRect.right)
        return;
    const int py = std::clamp(ValueToPixel(YAxis, value), plotRect.top, plotRect.bottom);

    m_canvasFont.setPixelSize(kBarFontPixels);

    const int bx = columnUse.place(px - plotRect.left);
    const int by = py - plotRect.top;
    const int hw = barHalfWidth(barWidthDivisor);

    PendingBar bar;
    bar.bar = QRect(QPoint(bx - hw, by), QPoint(bx + hw - 1, plotHeight - 1));
    const bool underMouse = mouseX >= bx - hw && mouseX <= bx + hw && mouseY >= by && mouseY <= plotHeight;
    if (alwaysLabel || underMouse) {
        // Labels are at most a frequency with four decimals; anything longer is cut.
        bar.text = label.left(kMaxLabelLength);
        const int w = m_labels->advance(bar.text), h = m_labels->height();
        const int e = verticalLabels ? h : w;
        const LabelSpot spot = labelPlace(bx - e / 2, by, w, h, verticalLabels);
        bar.labelAt = QPoint(spot.x, spot.y);
        bar.labelled = true;
        bar.vertical = verticalLabels;
        bar.cell = verticalLabels ? QRect(bar.labelAt.x(), bar.labelAt.y() - w, h, w)
                                  : QRect(bar.labelAt.x(), bar.labelAt.y(), w, h);
    }
    m_pending.push_back(bar);
}

void DBar::EndBars(const QString& legend)
{
    if (!xScaleArea && !m_canvas.isNull()) {
        marginsTouched();
        QPainter p(&m_canvas);
        m_dirty += textOut(p, plotWidth / 2 + plotRect.left - textWidth(m_canvasFont, legend) / 2,
                           plotRect.bottom + 5, legend, m_canvasFont, kBlack, kGrey);
    }
    const std::vector<PendingBar> bars = std::move(m_pending);
    m_pending.clear();
    m_stale = false;
    showBars(bars, barColor);
}

void DBar::SetStale(bool stale)
{
    if (stale == m_stale)
        return;
    m_stale = stale;
    const std::vector<PendingBar> bars = m_shownBars;
    showBars(bars, stale ? kStaleGrey : barColor);
}

bool DBar::PendingBar::operator==(const PendingBar& o) const
{
    return bar == o.bar && sameLabel(o);
}

bool DBar::PendingBar::sameLabel(const PendingBar& o) const
{
    if (labelled != o.labelled)
        return false;
    return !labelled || (vertical == o.vertical && text == o.text && labelAt == o.labelAt && cell == o.cell);
}

QRect DBar::PendingBar::area(const QRect& plot) const
{
    QRect r = bar.isValid() ? bar : QRect();
    if (labelled)
        r |= labelBounds();
    return r & plot;
}

QRect DBar::PendingBar::changedFrom(const PendingBar& was, const QRect& plot) const
{
    QRect r;
    // Bars stand on the plot's bottom: where a column keeps its bar, only
    // the rows between the old top and the new one change.
    if (bar.isValid() && was.bar.isValid() && bar.left() == was.bar.left() && bar.right() == was.bar.right()
        && bar.bottom() == was.bar.bottom()) {
        if (bar.top() != was.bar.top())
            r = QRect(QPoint(bar.left(), std::min(bar.top(), was.bar.top())),
                      QPoint(bar.right(), std::max(bar.top(), was.bar.top()) - 1));
    } else {
        r = (bar.isValid() ? bar : QRect()) | (was.bar.isValid() ? was.bar : QRect());
    }
    if (!sameLabel(was)) {
        if (labelled)
            r |= labelBounds();
        if (was.labelled)
            r |= was.labelBounds();
    }
    return r & plot;
}

void DBar::showBars(const std::vector<PendingBar>& bars, const QColor& colour)
{
    // The same bars in the same colour would come out pixel for pixel as they
    // are: a steady signal costs no drawing. A new background forgets the
    // bars shown, so it is never skipped.
    if (colour == m_shownColour && bars == m_shownBars)
        return;
    // Only where a bar or label differs from the one shown before can the
    // picture change: at most one rectangle a column, and often a few rows.
    const QRect area(0, 0, plotWidth, plotHeight);
    std::vector<QRect> changed;
    const size_t n = std::max(bars.size(), m_shownBars.size());
    for (size_t i = 0; i < n; ++i) {
        const bool before = i < m_shownBars.size(), now = i < bars.size();
        QRect r;
        if (before && now && colour == m_shownColour)
            r = bars[i].changedFrom(m_shownBars[i], area);
        else
            r = (before ? m_shownBars[i].area(area) : QRect()) | (now ? bars[i].area(area) : QRect());
        if (r.isValid())
            changed.push_back(r.translated(plotRect.left, plotRect.top));
    }
    m_shownBars = bars;
    m_shownColour = colour;
    m_dirty += repaintArea(changed);
    flush();
}

// A region keeps its rectangles in bands: columns of different heights side
// by side are cut at every top and bottom, and each piece costs a clip and a
// copy here and a request to the window system. Where the changes fill much
// of what bounds them, as when most bars moved, painting the bounds once
// costs less than painting the pieces.
QRegion DBar::repaintArea(const std::vector<QRect>& changed)
{
    QRect bounds;
    qint64 covered = 0;
    for (const QRect& r : changed) {
        bounds |= r;
        covered += qint64(r.width()) * r.height();
    }
    if (changed.size() > 2 && 2 * covered >= qint64(bounds.width()) * bounds.height())
        return QRegion(bounds);
    QRegion region;
    for (const QRect& r : changed)
        region += r;
    return region;
}

// The bars go straight onto whatever is painted, over the canvas's empty
// plot: each paint draws them afresh, in their order, within clip (control
// coordinates), so no picture of them is kept or copied.
void DBar::paintBars(QPainter& p, const QRect& clip) const
{
    const QRect inPlot = clip.translated(-plotRect.left, -plotRect.top) & QRect(0, 0, plotWidth, plotHeight);
    if (!inPlot.isValid() || m_shownBars.empty())
        return;
    p.save();
    p.translate(plotRect.left, plotRect.top);
    p.setClipRect(inPlot, Qt::IntersectClip);
    for (const PendingBar& b : m_shownBars) {
        if (b.bar.isValid() && b.bar.intersects(inPlot))
            p.fillRect(b.bar & inPlot, m_shownColour);
        if (b.labelled && b.labelBounds().intersects(inPlot))
            m_labels->draw(p, b.labelAt.x(), b.labelAt.y(), b.text, m_shownColour, kWhite, b.vertical);
    }
    p.restore();
}

QImage DBar::canvas() const
{
    QImage picture = m_canvas;
    if (!picture.isNull()) {
        QPainter p(&picture);
        paintBars(p, rect());
    }
    return picture;
}

void DBar::MouseMove(int x, int y)
{
    mouseX = x - plotRect.left;
    mouseY = y - plotRect.top;
    if (!readoutEnabled || m_canvas.isNull())
        return;
    const QString text = QString::asprintf("MOUSE POSITION = (%.0f)(%.2f)", PixelToValue(XAxis, x),
                                           PixelToValue(YAxis, y));
    const int top = plotRect.top - outerRect.top;
    marginsTouched();
    QPainter p(&m_canvas);
    p.fillRect(qrect(readoutRect), kGrey);
    m_dirty += qrect(readoutRect);
    m_canvasFont = cellFont(top / 5, true);
    const int h = QFontMetrics(m_canvasFont).height();
    m_dirty += textOut(p, outerWidth / 2 - textWidth(m_canvasFont, text) / 2, 4 * top / 5 + outerRect.top - h / 8,
                       text, m_canvasFont, kRed, kGrey);
    flush();
}

void DBar::MouseUp(Button button, int x, int y)
{
    if (!zoomEnabled)
        return;
    const auto range = zoomRange(button, x, y, zoomLow, zoomHigh, zoomMinSpan);
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
    for (const QRect& r : joinColumns(event->region())) {
        p.setClipRect(r);
        copyRect(p, m_canvas, r);
        paintBars(p, r);
    }
}

// A region is kept in horizontal bands: a bar whose rows changed over other
// rows than its neighbours' is cut at each of their edges, and a paint of
// ten bars came in some forty rectangles, each a clip and a copy. Joined
// back into columns they are as many as the bars, covering the same pixels.
std::vector<QRect> DBar::joinColumns(const QRegion& region)
{
    std::vector<QRect> rects(region.begin(), region.end());
    std::sort(rects.begin(), rects.end(), [](const QRect& a, const QRect& b) {
        return std::tuple(a.left(), a.right(), a.top()) < std::tuple(b.left(), b.right(), b.top());
    });
    std::vector<QRect> joined;
    for (const QRect& r : rects) {
        if (!joined.empty()) {
            QRect& last = joined.back();
            if (last.left() == r.left() && last.right() == r.right() && last.bottom() + 1 == r.top()) {
                last.setBottom(r.bottom());
                continue;
            }
        }
        joined.push_back(r);
    }
    return joined;
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
    const QPoint pos = event->position().toPoint();
    switch (event->button()) {
    case Qt::LeftButton:
        MouseUp(Button::Left, pos.x(), pos.y());
        break;
    case Qt::RightButton:
        MouseUp(Button::Right, pos.x(), pos.y());
        break;
    case Qt::MiddleButton:
        MouseUp(Button::Middle, pos.x(), pos.y());
        break;
    default:
        break;
    }
}
