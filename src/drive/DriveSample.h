#pragma once

#include <cstdint>

enum class SampleMode : uint8_t { Single, Scan, Table };

// One RSSI value of a measurement record, with where and when it was taken
// once the fixes around it are known.
struct DriveSample
{
    uint64_t record = 0;    // index of its record among the log's packet records
    double frequencyMHz = 0; // 0 when no receiver settings were known yet
    double latitude = 0;    // degrees; valid when placed
    double longitude = 0;   // degrees; valid when placed
    int64_t timeMs = 0;     // UTC, ms since 1970-01-01; valid when placed
    int channel = 0;        // channel number as the receiver numbers it; 0 when unknown
    int8_t rssi = 0;        // dBm
    uint8_t receiver = 0;   // 0 (R1) or 1 (R2)
    uint8_t slot = 0;       // scan slot 0-9 (scan mode only)
    SampleMode mode = SampleMode::Single;
    bool placed = false;    // lies between two used fixes
};
