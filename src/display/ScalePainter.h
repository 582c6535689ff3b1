#pragma once

#include "display/DBarGeometry.h"

#include <QFont>
#include <QRegion>

class QPainter;

// Draws the bar graph's scales into its canvas: the value scale left of the
// plot, the optional secondary scale right of it and the two optional x
// scale rows below it.
class ScalePainter
{
public:
    struct Options
    {
        int divisions = 10;
        bool rightScaleVisible = false;
        double rightTop = 0.0;
        double rightBottom = 0.0;
        bool xScaleArea = true; // else the area under the plot holds a legend
        bool xLabelsVisible = false;
        bool xSubLabelsVisible = false;
        int xLabelDigits = 0;
        int xSubLabelDigits = 0;
    };

    // The value scale's labels start at keepClear or right of it when they
    // must shrink past their designed sizes. font: the canvas font as the
    // steps leave it. Returns what was drawn.
    static QRegion draw(QPainter& p, const DBarGeometry& g, const Options& o, int keepClear, QFont& font);
};
