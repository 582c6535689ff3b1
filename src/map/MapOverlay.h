#pragma once

#include <QRectF>
#include <QString>

class QPainter;
class RssiPalette;

// What is drawn over the map whatever the base: the scale bar, the north
// arrow, the colour legend and the base map's attribution. Logical pixels.
class MapOverlay
{
public:
    // The longest round distance (1, 2 or 5 × 10^n metres) that fits in
    // `maxPixels`; its length in pixels goes to `pixels`.
    static double scaleBarMetres(double metresPerPixel, double maxPixels, double* pixels);
    static QString distanceText(double metres);

    static void drawScaleBar(QPainter& p, const QRectF& view, double metresPerPixel);
    static void drawNorthArrow(QPainter& p, const QRectF& view);
    static void drawLegend(QPainter& p, const QRectF& view, const RssiPalette& palette);
    static void drawAttribution(QPainter& p, const QRectF& view, const QString& text);
};
