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

QRectF TileMath::wrappedBounds(std::vector<QRectF> boxes)
{
    if (boxes.empty())
        return {};
    double top = boxes.front().top(), bottom = boxes.front().bottom();
    for (const QRectF& b : boxes) {
        top = std::min(top, b.top());
        bottom = std::max(bottom, b.bottom());
    }
    // The stretches of x the boxes cover, merged; the widest gap between
    // them, the one across the antimeridian included, is what the bounds leave out.
    std::sort(boxes.begin(), boxes.end(), [](const QRectF& a, const QRectF& b) { return a.left() < b.left(); });
    std::vector<std::pair<double, double>> covered;
    for (const QRectF& b : boxes) {
        if (!covered.empty() && b.left() <= covered.back().second)
            covered.back().second = std::max(covered.back().second, b.right());
        else
            covered.emplace_back(b.left(), b.right());
    }
    double left = covered.front().first, right = covered.back().second;
    double widestGap = covered.front().first + 1.0 - covered.back().second; // across the antimeridian
    for (std::size_t i = 0; i + 1 < covered.size(); ++i) {
        const double gap = covered[i + 1].first - covered[i].second;
        if (gap > widestGap) {
            widestGap = gap;
            left = covered[i + 1].first - 1.0;
            right = covered[i].second;
        }
    }
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}
