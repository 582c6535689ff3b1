#pragma once

#include "drive/DriveFix.h"

#include <cmath>
#include <cstdint>

// Where and when a record lies between two used fixes: on the straight line
// between them, by record index. Every reader of a drive places the same
// way, so the map's dots, a marker and a waterfall's times agree. Inline:
// the drive model places millions of samples a second through it.
class RoutePlacement
{
public:
    // Past this the straight line would invent the drive between (a receiver
    // off for a while); five minutes covers a tunnel or a long stop.
    static constexpr int64_t kMaxGapMs = 5 * 60 * 1000;

    struct Place
    {
        double latitude = 0;  // degrees
        double longitude = 0; // degrees
        int64_t timeMs = 0;   // UTC, ms since 1970-01-01
    };

    // False where the time between the fixes goes back or spans more than kMaxGapMs.
    static bool placeable(const DriveFix& a, const DriveFix& b)
    {
        const int64_t step = b.timeMs - a.timeMs;
        return step >= 0 && step <= kMaxGapMs;
    }

    // a.record <= record <= b.record, a before b.
    static Place place(const DriveFix& a, const DriveFix& b, uint64_t record)
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
        return {a.latitude + t * (b.latitude - a.latitude), lon, a.timeMs + roundHalfAway(t * double(b.timeMs - a.timeMs))};
    }

private:
    // std::llround without the library call, which cost as much as placing a
    // sample: below 2^53 the fraction left after truncation is exact.
    static int64_t roundHalfAway(double x)
    {
        if (!(std::fabs(x) < 9.0e15))
            return std::llround(x);
        const int64_t v = int64_t(x);
        const double rest = x - double(v);
        return rest >= 0.5 ? v + 1 : rest <= -0.5 ? v - 1 : v;
    }
};
