#pragma once

#include <QRectF>

#include <cstdint>
#include <vector>

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

    // The sample counts the count legend labels, lowest first: 1, the most
    // in a shown cell, and round counts between them (1, 2, 5 times a power
    // of ten, or powers of ten alone when those would crowd the bar).
    static std::vector<uint64_t> countValues(uint64_t maxCount);
};
