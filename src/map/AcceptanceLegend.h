#pragma once

#include <QRectF>

class QPainter;

// The key of an acceptance map: a swatch for each tile state and the area's
// outline, in the bottom right corner above the attribution line.
class AcceptanceLegend
{
public:
    static void draw(QPainter& p, const QRectF& view, bool withArea);
};
