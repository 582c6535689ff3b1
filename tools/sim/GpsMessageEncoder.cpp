#include "GpsMessageEncoder.h"

#include "SimBytes.h"

#include <cmath>

using SimBytes::putBe16;
using SimBytes::putBe32;

std::array<uint8_t, GpsMessageEncoder::kLength> GpsMessageEncoder::encode(const GpsFix& f)
{
    std::array<uint8_t, kLength> m{};
    uint8_t* p = m.data();
    // Bytes 0-3 carry the receiver's message header; the program ignores it.
    p[0] = '@';
    p[1] = '@';
    p[2] = 'H';
    p[3] = 'a';
    p[4] = f.month;
    p[5] = f.day;
    putBe16(p + 6, uint16_t(f.year));
    p[8] = f.hours;
    p[9] = f.minutes;
    p[10] = f.seconds;
    putBe32(p + 15, uint32_t(f.filteredLatitude));
    putBe32(p + 19, uint32_t(f.filteredLongitude));
    putBe32(p + 23, uint32_t(f.filteredGpsHeight));
    putBe32(p + 27, uint32_t(f.filteredMslHeight));
    putBe32(p + 31, uint32_t(f.latitude));
    putBe32(p + 35, uint32_t(f.longitude));
    putBe32(p + 39, uint32_t(f.gpsHeight));
    putBe32(p + 43, uint32_t(f.mslHeight));
    putBe16(p + 47, uint16_t(f.speed3D));
    putBe16(p + 49, uint16_t(f.speed2D));
    putBe16(p + 51, uint16_t(f.heading));
    putBe16(p + 53, uint16_t(f.dop));
    p[55] = f.visibleSats;
    p[56] = f.trackedSats;
    for (std::size_t n = 0; n < f.channels.size(); ++n)
        for (std::size_t b = 0; b < 6; ++b)
            p[57 + 6 * n + b] = f.channels[n][b];
    p[129] = f.status1;
    p[130] = f.status2;
    putBe16(p + 133, uint16_t(f.clockBias));
    putBe32(p + 135, uint32_t(f.oscOffset));
    putBe16(p + 139, f.temperature);
    p[141] = f.utcParameters;
    p[142] = f.gmtNegative ? 1 : 0;
    p[143] = f.gmtHours;
    p[144] = f.gmtMinutes;
    for (std::size_t i = 0; i < f.idTag.size(); ++i)
        p[145 + i] = uint8_t(f.idTag[i]);
    return m;
}

int32_t GpsMessageEncoder::toMilliarcseconds(double degrees)
{
    return int32_t(std::llround(degrees * 3600000.0));
}
