#pragma once

#include <QPoint>
#include <QPointF>
#include <QRectF>

#include <cmath>
#include <vector>

// Web Mercator as slippy-map tile servers use it. "World" coordinates are
// the projected plane scaled to [0, 1): x grows east from 180° W, y grows
// south from the projection's northern limit. A zoom level z spreads the
// world over 2^z × 2^z tiles of 256 pixels.
class TileMath
{
public:
    static constexpr int kTileSize = 256;       // pixels
    static constexpr int kMaxZoom = 19;
    static constexpr double kMaxLatitude = 85.05112877980659; // degrees; the square's edge

    struct Geo
    {
        double latitude = 0;  // degrees, north positive
        double longitude = 0; // degrees, east positive
    };

    static QPointF worldFromGeo(double latitude, double longitude);
    static Geo geoFromWorld(QPointF world);

    // Pixel of the whole world at a zoom level, from the north-west corner.
    static QPointF pixelFromGeo(double latitude, double longitude, int zoom);
    static Geo geoFromPixel(QPointF pixel, int zoom);

    // The tile holding a position; positions beyond the edges fall in the
    // edge tiles.
    static QPoint tileFromGeo(double latitude, double longitude, int zoom);

    // MBTiles numbers rows from the south (TMS), tile servers from the north.
    static int mbtilesRow(int row, int zoom) { return (1 << zoom) - 1 - row; }

    // Ground distance one pixel covers at a latitude.
    static double metresPerPixel(double latitude, int zoom);

    // Whether the base map's square reaches a latitude: beyond 85.05° the
    // projection has no room, and positions there land on its edge.
    static bool onBaseMap(double latitude) { return std::abs(latitude) <= kMaxLatitude; }

    // The narrowest box in world coordinates holding every box given (a
    // point is a box of no size). Where going across the antimeridian is
    // narrower, its left edge lies below 0, x − 1 standing for what lies east
    // of it, so that a drive or map from 179° E to 179° W is not fitted to
    // the whole world. Null without boxes.
    static QRectF wrappedBounds(std::vector<QRectF> boxes);

    static double worldSize(int zoom) { return double(kTileSize) * double(1 << zoom); } // pixels
};
