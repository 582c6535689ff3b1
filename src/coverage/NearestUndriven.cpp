#include "coverage/NearestUndriven.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr double kDeg = std::numbers::pi / 180.0;
}

double NearestUndriven::metres(double lat1, double lon1, double lat2, double lon2)
{
    // Haversine: sound at the few metres between neighbouring tiles, where
    // the law of cosines loses its digits.
    const double p1 = lat1 * kDeg, p2 = lat2 * kDeg;
    const double dp = p2 - p1, dl = (lon2 - lon1) * kDeg;
    const double h = std::sin(dp / 2) * std::sin(dp / 2) + std::cos(p1) * std::cos(p2) * std::sin(dl / 2) * std::sin(dl / 2);
    return 2 * kEarthRadiusMetres * std::asin(std::min(1.0, std::sqrt(h)));
}

double NearestUndriven::bearingDegrees(double lat1, double lon1, double lat2, double lon2)
{
    const double p1 = lat1 * kDeg, p2 = lat2 * kDeg, dl = (lon2 - lon1) * kDeg;
    const double y = std::sin(dl) * std::cos(p2);
    const double x = std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dl);
    const double deg = std::atan2(y, x) / kDeg;
    const double b = std::fmod(deg + 360.0, 360.0);
    return b >= 360.0 ? 0.0 : b;
}

const char* NearestUndriven::compass(double bearingDeg)
{
    static constexpr const char* kPoints[] = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};
    const double b = std::fmod(std::fmod(bearingDeg, 360.0) + 360.0, 360.0);
    return kPoints[int(std::floor((b + 22.5) / 45.0)) % 8];
}

std::optional<NearestUndriven::Answer> NearestUndriven::find(const std::vector<AcceptanceTile>& tiles, double latitude,
                                                             double longitude)
{
    const AcceptanceTile* best = nullptr;
    double bestMetres = 0;
    for (const AcceptanceTile& t : tiles) {
        if (t.state != AcceptanceTile::State::NotDriven)
            continue;
        const double m = metres(latitude, longitude, t.latitude, t.longitude);
        // Ties go to the lower key, so the answer does not depend on the order.
        if (!best || m < bestMetres || (m == bestMetres && t.key < best->key)) {
            best = &t;
            bestMetres = m;
        }
    }
    if (!best)
        return std::nullopt;
    Answer a;
    a.key = best->key;
    a.latitude = best->latitude;
    a.longitude = best->longitude;
    a.metres = bestMetres;
    a.bearingDeg = bearingDegrees(latitude, longitude, best->latitude, best->longitude);
    a.compass = compass(a.bearingDeg);
    return a;
}
