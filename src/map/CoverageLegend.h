#pragma once

#include <QRectF>

class CoverageLayer;
class QPainter;
class RssiPalette;

// The legend of a coverage map: which figure colours the cells, and the
// scale it is coloured on (dBm on the palette's range, or samples on a log
// scale for the count).
class CoverageLegend
{
public:
    static void draw(QPainter& p, const QRectF& view, const CoverageLayer& layer, const RssiPalette& palette);
};
