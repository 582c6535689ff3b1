#pragma once

#include "display/BarShape.h"

#include <QColor>
#include <QRegion>

#include <vector>

class LabelCache;
class QPainter;

// The bars a graph shows, kept as shapes and painted over its canvas on
// every paint: an update draws nothing itself, it only says where the
// picture changed, so the screen gets the whole update in one paint.
class BarLayer
{
public:
    // Makes bars the ones shown, in colour; returns where the picture
    // changes (control coordinates, plot the plot's rectangle there).
    QRegion show(const std::vector<BarShape>& bars, const QColor& colour, const QRect& plot);
    // A new background: nothing is shown, and the next show is never skipped.
    void clear() { m_bars.clear(); }
    // Paints the bars in their order within clip (control coordinates).
    void paint(QPainter& p, const QRect& clip, const QRect& plot, LabelCache& labels) const;

    const std::vector<BarShape>& bars() const { return m_bars; }

    // The region's rectangles, those stacked in one column joined into one.
    static std::vector<QRect> joinColumns(const QRegion& region);
    // What to repaint for the changed rectangles: their bounds when they
    // fill much of them, else the rectangles themselves.
    static QRegion repaintArea(const std::vector<QRect>& changed);

private:
    std::vector<BarShape> m_bars; // as painted, in drawing order
    QColor m_colour;
};
