#pragma once

#include "GpsMessageEncoder.h"

#include <ctime>
#include <random>

// A car driving a loop near 40.5471 N 74.3803 W at about 50 km/h: what the
// device's GPS receiver reports second by second.
class GpsRoute
{
public:
    static constexpr double kStartLatitude = 40.5471;   // degrees
    static constexpr double kStartLongitude = -74.3803; // degrees
    static constexpr double kRadiusM = 600.0;
    static constexpr double kSpeedCmS = 1389.0;         // 50 km/h

    explicit GpsRoute(uint32_t seed = 1) : m_rng(seed) {}

    // t: seconds since the drive began; utc: the time stamp to report.
    GpsFix fixAt(double t, std::time_t utc);

private:
    std::mt19937 m_rng;
};
