#pragma once

#include "DotRenderer.h"
#include "PointLayer.h"
#include "protocol/RssiPalette.h"

#include <QImage>
#include <QString>

#include <optional>

#include <vector>

class AcceptanceLayer;
class CoverageLayer;
class MapViewport;
class TileSource;

// Composes one frame of the map into an image: the base (tiles, or the grid
// wherever a tile is missing), the dots of every layer (later layers on top),
// a ring round the selected point, the time slider's marker, then the scale
// bar, north arrow, legend and the base map's attribution, once one of its
// tiles is drawn. No widgets: the view, the image export and the benchmark
// all draw through it.
class MapRenderer
{
public:
    struct Selection
    {
        int layer = -1;
        int index = -1;
    };

    explicit MapRenderer(int dotRadius = 4); // logical pixels

    // `image` has its final size in device pixels and its device pixel ratio
    // set. Returns the number of dots drawn.
    int render(QImage& image, const MapViewport& viewport, TileSource* tiles,
               const std::vector<PointLayer>& layers, const RssiPalette& legend,
               Selection selection);

    int dotRadius() const { return m_dotRadius; } // logical pixels
    // Cells drawn between the base map and the dots, with their own legend; null: none. Not owned.
    void setCoverage(const CoverageLayer* coverage) { m_coverage = coverage; }
    // An acceptance test's tiles, above the cells and below the dots, with their key; null: none. Not owned.
    void setAcceptance(const AcceptanceLayer* acceptance) { m_acceptance = acceptance; }
    // Where a recorded drive's time slider stands, in world coordinates; none: no marker.
    void setMarker(std::optional<QPointF> world) { m_marker = world; }
    std::optional<QPointF> marker() const { return m_marker; }

    static void drawGrid(QPainter& p, const QRectF& cell);

private:
    static bool drawEnlarged(QPainter& p, const QRectF& cell, TileSource& tiles, int zoom, int x, int y);

    int m_dotRadius;
    DotRenderer m_dots;
    double m_dotsRatio = 1;
    const CoverageLayer* m_coverage = nullptr;
    const AcceptanceLayer* m_acceptance = nullptr;
    std::optional<QPointF> m_marker;
};
