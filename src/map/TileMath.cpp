#include "TileMath.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr double kEarthCircumference = 40075016.68557849; // metres at the equator (WGS 84 sphere)
}

QPointF TileMath::worldFromGeo(double latitude, double longitude)
{
    const double lat = std::clamp(latitude, -kMaxLatitude, kMaxLatitude) * std::numbers::pi / 180.0;
    const double x = (longitude + 180.0) / 360.0;
    const double y = (1.0 - std::asinh(std::tan(lat)) / std::numbers::pi) / 2.0;
    return {x, y};
}

TileMath::Geo TileMath::geoFromWorld(QPointF world)
{
    const double n = std::numbers::pi * (1.0 - 2.0 * world.y());
    return {std::atan(std::sinh(n)) * 180.0 / std::numbers::pi, world.x() * 360.0 - 180.0};
}

QPointF TileMath::pixelFromGeo(double latitude, double longitude, int zoom)
{
    return worldFromGeo(latitude, longitude) * worldSize(zoom);
}

TileMath::Geo TileMath::geoFromPixel(QPointF pixel, int zoom)
{
    return geoFromWorld(pixel / worldSize(zoom));
}

QPoint TileMath::tileFromGeo(double latitude, double longitude, int zoom)
{
    const QPointF p = pixelFromGeo(latitude, longitude, zoom) / kTileSize;
    const int last = (1 << zoom) - 1;
    return {std::clamp(int(std::floor(p.x())), 0, last), std::clamp(int(std::floor(p.y())), 0, last)};
}

double TileMath::metresPerPixel(double latitude, int zoom)
{
    return kEarthCircumference * std::cos(latitude * std::numbers::pi / 180.0) / worldSize(zoom);
}
