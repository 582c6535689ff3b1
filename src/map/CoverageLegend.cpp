#include "CoverageLegend.h"

#include "CoverageLayer.h"
#include "MapOverlay.h"
#include "protocol/RssiPalette.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kMargin = 10;   // logical pixels from the view's edge, as the other overlays
constexpr double kBarTop = 64;     // logical pixels: where the colour bar's box starts, as MapOverlay's
constexpr double kBarHeight = 120; // logical pixels, as MapOverlay's
}

void CoverageLegend::draw(QPainter& p, const QRectF& view, const CoverageLayer& layer, const RssiPalette& palette)
{
    const bool count = layer.figure() == CoverageLayer::Figure::Count;
    const QString title = count ? QStringLiteral("Samples per cell") : CoverageLayer::figureName(layer.figure());
    if (count) {
        // Samples on the layer's log scale, from 1 to the most in a shown cell.
        const QFontMetricsF fm(p.font());
        const QString high = QString::number(qulonglong(std::max<uint64_t>(1, layer.maxCount())));
        const QString low = QStringLiteral("1");
        const double barHeight = kBarHeight;
        const double textWidth = std::max(fm.horizontalAdvance(high), fm.horizontalAdvance(low));
        const QRectF box(view.right() - kMargin - textWidth - 34, view.top() + kBarTop, textWidth + 34,
                         barHeight + fm.height() + 8);
        p.save();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 220));
        p.drawRect(box);
        const QRectF bar(box.left() + 6, box.top() + 4 + fm.height() / 2, 14, barHeight);
        QLinearGradient g(bar.bottomLeft(), bar.topLeft());
        for (int i = 0; i <= 8; ++i) {
            const double t = i / 8.0;
            const int value = int(std::lround(std::pow(double(std::max<uint64_t>(1, layer.maxCount())), t)));
            g.setColorAt(t, QColor::fromRgb(layer.colour(value, palette)));
        }
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(g);
        p.drawRect(bar);
        p.drawText(QPointF(bar.right() + 6, bar.top() + fm.ascent() / 2), high);
        p.drawText(QPointF(bar.right() + 6, bar.bottom() + fm.ascent() / 2), low);
        p.restore();
    } else {
        MapOverlay::drawLegend(p, view, palette);
    }
    const QFontMetricsF fm(p.font());
    const double width = fm.horizontalAdvance(title) + 8;
    // Under the colour bar, clear of the north arrow above it.
    const QRectF box(view.right() - kMargin - width, view.top() + kBarTop + kBarHeight + fm.height() + 12, width,
                     fm.height() + 4);
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawRect(box);
    p.setPen(Qt::black);
    p.drawText(box, Qt::AlignCenter, title);
    p.restore();
}
