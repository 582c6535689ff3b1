#pragma once

#include <cstdint>

// One GPS message of a log as a position fix. Every message gives a fix;
// only the used ones place samples.
struct DriveFix
{
    uint64_t record = 0;   // index of the GPS record among the log's packet records
    int64_t timeMs = 0;    // UTC, milliseconds since 1970-01-01
    bool timeValid = false; // the message's date and time form a real instant
    double latitude = 0;   // degrees, north positive, unfiltered
    double longitude = 0;  // degrees, east positive, unfiltered
    double heightM = 0;    // MSL height, metres
    double speedMps = 0;   // 2D speed, metres per second
    double headingDeg = 0; // degrees from north, clockwise
    int status = 0;        // receiver status code 0-7; 6 is a 2D fix, 7 a 3D fix
    int satellites = 0;    // tracked satellites
    double dop = 0;        // dilution of precision as the receiver reports it
    bool used = false;     // a 2D or 3D fix at a possible position and time
};
