#include "MapOverlay.h"

#include "protocol/RssiPalette.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kMargin = 10; // logical pixels from the view's edges
const QColor kPanel(255, 255, 255, 215);
const QColor kInk(32, 32, 32);

void panel(QPainter& p, const QRectF& r)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kPanel);
    p.drawRoundedRect(r, 3, 3);
}
} // namespace

double MapOverlay::scaleBarMetres(double metresPerPixel, double maxPixels, double* pixels)
{
    const double most = metresPerPixel * maxPixels;
    double step = std::pow(10.0, std::floor(std::log10(most)));
    double metres = step;
    for (double f : {5.0, 2.0, 1.0}) {
        if (f * step <= most) {
            metres = f * step;
            break;
        }
    }
    if (pixels)
        *pixels = metres / metresPerPixel;
    return metres;
}

QString MapOverlay::distanceText(double metres)
{
    if (metres >= 1000)
        return QStringLiteral("%1 km").arg(metres / 1000, 0, 'g', 6);
    return QStringLiteral("%1 m").arg(metres, 0, 'g', 6);
}

void MapOverlay::drawScaleBar(QPainter& p, const QRectF& view, double metresPerPixel)
{
    double length = 0;
    const double metres = scaleBarMetres(metresPerPixel, 120, &length);
    const QString text = distanceText(metres);
    const QFontMetricsF fm(p.font());
    const QRectF box(view.left() + kMargin, view.bottom() - kMargin - fm.height() - 14,
                     std::max(length, fm.horizontalAdvance(text)) + 12, fm.height() + 14);
    panel(p, box);
    const double x0 = box.left() + 6;
    const double y = box.bottom() - 5;
    p.setPen(QPen(kInk, 2));
    p.drawLine(QPointF(x0, y), QPointF(x0 + length, y));
    p.drawLine(QPointF(x0, y), QPointF(x0, y - 6));
    p.drawLine(QPointF(x0 + length, y), QPointF(x0 + length, y - 6));
    p.drawText(QRectF(x0, box.top() + 2, box.width() - 12, fm.height()), Qt::AlignLeft, text);
}

void MapOverlay::drawNorthArrow(QPainter& p, const QRectF& view)
{
    const QRectF box(view.right() - kMargin - 30, view.top() + kMargin, 30, 44);
    panel(p, box);
    const double cx = box.center().x();
    QPainterPath arrow;
    arrow.moveTo(cx, box.top() + 18);
    arrow.lineTo(cx + 8, box.bottom() - 6);
    arrow.lineTo(cx, box.bottom() - 11);
    arrow.lineTo(cx - 8, box.bottom() - 6);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPath(arrow);
    p.setPen(kInk);
    p.drawText(QRectF(box.left(), box.top() + 1, box.width(), 16), Qt::AlignHCenter | Qt::AlignTop,
               QStringLiteral("N"));
}

void MapOverlay::drawLegend(QPainter& p, const QRectF& view, const RssiPalette& palette)
{
    const QFontMetricsF fm(p.font());
    const QString high = QStringLiteral("%1 dBm").arg(palette.maximum());
    const QString low = QStringLiteral("%1 dBm").arg(palette.minimum());
    const double barHeight = 120;
    const double textWidth = std::max(fm.horizontalAdvance(high), fm.horizontalAdvance(low));
    const QRectF box(view.right() - kMargin - textWidth - 34, view.top() + kMargin + 54,
                     textWidth + 34, barHeight + fm.height() + 8);
    panel(p, box);
    const QRectF bar(box.left() + 6, box.top() + 4 + fm.height() / 2, 14, barHeight);
    QLinearGradient g(bar.bottomLeft(), bar.topLeft());
    for (int i = 0; i <= 8; ++i) {
        const double t = i / 8.0;
        const int rssi = int(std::lround(palette.minimum() + t * (palette.maximum() - palette.minimum())));
        g.setColorAt(t, QColor::fromRgb(palette.argb(rssi)));
    }
    p.setPen(QPen(kInk, 1));
    p.setBrush(g);
    p.drawRect(bar);
    p.setPen(kInk);
    const double tx = bar.right() + 6;
    // Both ends and round values between them, a label's height apart at least.
    const double span = std::max(1, palette.maximum() - palette.minimum());
    for (const int rssi : palette.legendValues(int(barHeight / (2 * fm.height())))) {
        const double y = bar.bottom() - (rssi - palette.minimum()) / span * barHeight;
        p.drawLine(QPointF(bar.right(), y), QPointF(bar.right() + 3, y));
        p.drawText(QPointF(tx, y + fm.ascent() / 2), QStringLiteral("%1 dBm").arg(rssi));
    }
}

void MapOverlay::drawAttribution(QPainter& p, const QRectF& view, const QString& text)
{
    if (text.isEmpty())
        return;
    const QFontMetricsF fm(p.font());
    const QRectF box(view.right() - fm.horizontalAdvance(text) - 10, view.bottom() - fm.height() - 4,
                     fm.horizontalAdvance(text) + 10, fm.height() + 4);
    panel(p, box);
    p.setPen(kInk);
    p.drawText(box, Qt::AlignCenter, text);
}
