#pragma once

// A drive for the tests of following a log: a straight run north-east near
// 52.2° N 0.1° E at about 14 m/s, a fix a second, and between fixes table
// reports of two channels on R1 and one on R2. The level falls 1 dB a
// second, so the first tiles pass a -95 dBm threshold and the last fail.
#include "drive/DriveTestLog.h"

#include <cstddef>
#include <vector>

namespace followtest {

constexpr double kStartLatitude = 52.2;
constexpr double kStartLongitude = 0.1;
constexpr double kDegreesPerSecond = 0.0001; // north and east, each
constexpr int kTablesPerFix = 3;

inline int levelAt(int second, int i)
{
    return -60 - second - (second * 7 + i * 3) % 5; // dBm
}

// seconds fixes; the first at 12:00:00 UTC.
inline DriveTestLog drive(int seconds)
{
    DriveTestLog log;
    log.header(0x03);
    for (int s = 0; s < seconds; ++s) {
        log.gpsAtSecond(kStartLatitude + s * kDegreesPerSecond, kStartLongitude + s * kDegreesPerSecond, 43200 + s);
        if (s + 1 == seconds)
            break;
        for (int i = 0; i < kTablesPerFix; ++i)
            log.table({{0, 4, levelAt(s, i)}, {0, 6, levelAt(s, i) - 3}, {1, 4, levelAt(s, i) + 2}, {0, 4, levelAt(s, i) - 1}});
    }
    return log;
}

} // namespace followtest
