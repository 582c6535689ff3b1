#include "BarLayer.h"

#include "display/LabelCache.h"

#include <QPainter>

#include <algorithm>
#include <tuple>

namespace {
const QColor kWhite(0xFF, 0xFF, 0xFF);
}

QRegion BarLayer::show(const std::vector<BarShape>& bars, const QColor& colour, const QRect& plot)
{
    // The same bars in the same colour would come out pixel for pixel as they
    // are: a steady signal costs no drawing.
    if (colour == m_colour && bars == m_bars)
        return {};
    // Only where a bar or label differs from the one shown before can the
    // picture change: at most one rectangle a column, and often a few rows.
    const QRect area(0, 0, plot.width(), plot.height());
    std::vector<QRect> changed;
    const size_t n = std::max(bars.size(), m_bars.size());
    for (size_t i = 0; i < n; ++i) {
        const bool before = i < m_bars.size(), now = i < bars.size();
        QRect r;
        if (before && now && colour == m_colour)
            r = bars[i].changedFrom(m_bars[i], area);
        else
            r = (before ? m_bars[i].area(area) : QRect()) | (now ? bars[i].area(area) : QRect());
        if (r.isValid())
            changed.push_back(r.translated(plot.left(), plot.top()));
    }
    m_bars = bars;
    m_colour = colour;
    return repaintArea(changed);
}

// A region keeps its rectangles in bands: columns of different heights side
// by side are cut at every top and bottom, and each piece costs a clip and a
// copy here and a request to the window system. Where the changes fill much
// of what bounds them, as when most bars moved, painting the bounds once
// costs less than painting the pieces.
QRegion BarLayer::repaintArea(const std::vector<QRect>& changed)
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
// plot: each paint draws them afresh, so no picture of them is kept or copied.
void BarLayer::paint(QPainter& p, const QRect& clip, const QRect& plot, LabelCache& labels) const
{
    const QRect inPlot = clip.translated(-plot.left(), -plot.top()) & QRect(0, 0, plot.width(), plot.height());
    if (!inPlot.isValid() || m_bars.empty())
        return;
    p.save();
    p.translate(plot.left(), plot.top());
    p.setClipRect(inPlot, Qt::IntersectClip);
    for (const BarShape& b : m_bars) {
        if (b.bar.isValid() && b.bar.intersects(inPlot))
            p.fillRect(b.bar & inPlot, m_colour);
        if (b.labelled && b.labelBounds().intersects(inPlot))
            labels.draw(p, b.labelAt.x(), b.labelAt.y(), b.text, m_colour, kWhite, b.vertical);
    }
    p.restore();
}

// A region is kept in horizontal bands: a bar whose rows changed over other
// rows than its neighbours' is cut at each of their edges, and a paint of
// ten bars came in some forty rectangles, each a clip and a copy. Joined
// back into columns they are as many as the bars, covering the same pixels.
std::vector<QRect> BarLayer::joinColumns(const QRegion& region)
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
