#include "RoutePlacement.h"

#include <cmath>

namespace {

// std::llround without the library call, which cost as much as placing a
// sample: below 2^53 the fraction left after truncation is exact.
int64_t roundHalfAway(double x)
{
    if (!(std::fabs(x) < 9.0e15))
        return std::llround(x);
    const int64_t v = int64_t(x);
    const double rest = x - double(v);
    return rest >= 0.5 ? v + 1 : rest <= -0.5 ? v - 1 : v;
}

} // namespace

RoutePlacement::Place RoutePlacement::place(const DriveFix& a, const DriveFix& b, uint64_t record)
{
    const double t = b.record == a.record ? 0.0 : double(record - a.record) / double(b.record - a.record);
    double dLon = b.longitude - a.longitude;
    // Across the antimeridian the short way round is the one driven.
    if (dLon > 180.0)
        dLon -= 360.0;
    else if (dLon < -180.0)
        dLon += 360.0;
    double lon = a.longitude + t * dLon;
    if (lon > 180.0)
        lon -= 360.0;
    else if (lon < -180.0)
        lon += 360.0;
    Place p;
    p.latitude = a.latitude + t * (b.latitude - a.latitude);
    p.longitude = lon;
    p.timeMs = a.timeMs + roundHalfAway(t * double(b.timeMs - a.timeMs));
    return p;
}
