#pragma once

#include <QRgb>
#include <QString>

#include <cstdint>

// One dot on the map: a measurement placed at a position.
struct MapPoint
{
    double latitude = 0;       // degrees, north positive
    double longitude = 0;      // degrees, east positive
    int rssi = 0;              // dBm
    QRgb colour = 0;           // from the palette in force when the point came
    int64_t timeMs = 0;        // UTC milliseconds since 1970: arrival (live) or fix time (recorded)
    int receiver = -1;         // 0 (R1) or 1 (R2); -1 unknown
    int channel = -1;          // -1 unknown
    double frequencyMHz = 0;   // 0 unknown
};
