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
        const uint64_t most = std::max<uint64_t>(1, layer.maxCount());
        const std::vector<uint64_t> values = countValues(most);
        const double barHeight = kBarHeight;
        double textWidth = 0;
        for (uint64_t v : values)
            textWidth = std::max(textWidth, fm.horizontalAdvance(QString::number(qulonglong(v))));
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
        for (uint64_t v : values) {
            const double t = most > 1 ? std::log(double(v)) / std::log(double(most)) : 0.0;
            const double y = bar.bottom() - t * bar.height();
            p.drawLine(QPointF(bar.right(), y), QPointF(bar.right() + 3, y));
            p.drawText(QPointF(bar.right() + 6, y + fm.ascent() / 2 - 1), QString::number(qulonglong(v)));
        }
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

std::vector<uint64_t> CoverageLegend::countValues(uint64_t maxCount)
{
    std::vector<uint64_t> values{1};
    if (maxCount <= 1)
        return values;
    // Five labels between the ends at most; on the log scale, one closer to
    // the top than a tenth of the bar would overlap its label.
    constexpr std::size_t kMostBetween = 5;
    constexpr double kClosest = 0.1; // of the bar
    const double top = std::log(double(maxCount));
    auto between = [&](std::initializer_list<uint64_t> mantissas) {
        std::vector<uint64_t> inner;
        for (uint64_t decade = 1; decade <= maxCount / 2 + 1 && decade < UINT64_MAX / 10; decade *= 10)
            for (uint64_t m : mantissas) {
                const uint64_t v = m * decade;
                if (v > 1 && v < maxCount && (top - std::log(double(v))) / top > kClosest)
                    inner.push_back(v);
            }
        return inner;
    };
    std::vector<uint64_t> inner = between({1, 2, 5});
    if (inner.size() > kMostBetween)
        inner = between({1});
    // Powers of ten alone are too many only past a million: every other one.
    for (std::size_t stride = 2; inner.size() > kMostBetween; ++stride) {
        std::vector<uint64_t> fewer;
        for (std::size_t i = stride - 1; i < inner.size(); i += stride)
            fewer.push_back(inner[i]);
        inner = fewer;
    }
    values.insert(values.end(), inner.begin(), inner.end());
    values.push_back(maxCount);
    return values;
}
