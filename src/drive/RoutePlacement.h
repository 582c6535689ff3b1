#pragma once

#include "drive/DriveFix.h"

#include <cstdint>

// Where and when a record lies between two used fixes: on the straight line
// between them, by record index. Every reader of a drive places the same
// way, so the map's dots, a marker and a waterfall's times agree.
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
    static Place place(const DriveFix& a, const DriveFix& b, uint64_t record);
};
