#pragma once

#include "display/DBarGeometry.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <array>

// The bar graph's plot without its bars: white, with the grey grid of the
// value divisions, the enabled markers' dashed lines and the trace. Drawn on
// Paint and zoom only; the bars and the marker labels are drawn elsewhere.
class PlotBackground
{
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
    using Markers = std::array<Marker, 4>;
    using Trace = std::array<TracePoint, kTracePoints>;

    // The picture, plotWidth x plotHeight logical pixels at the device
    // pixel ratio dpr; null when the plot has no area. lastTracePoint < 0:
    // no trace; else points 0 .. lastTracePoint are joined.
    static QImage build(const DBarGeometry& g, int divisions, const Markers& markers, const Trace& trace,
                        int lastTracePoint, qreal dpr);
};
