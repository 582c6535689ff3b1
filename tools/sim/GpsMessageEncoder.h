#pragma once

#include <array>
#include <cstdint>

// What the GPS receiver reports once a second, in the units of its message.
struct GpsFix
{
    uint8_t month = 1, day = 1;
    int16_t year = 2000;
    uint8_t hours = 0, minutes = 0, seconds = 0;
    int32_t filteredLatitude = 0, filteredLongitude = 0; // milliarcseconds, north/east positive
    int32_t filteredGpsHeight = 0, filteredMslHeight = 0; // cm
    int32_t latitude = 0, longitude = 0;                 // milliarcseconds
    int32_t gpsHeight = 0, mslHeight = 0;                 // cm
    int16_t speed3D = 0, speed2D = 0;                     // cm/s
    int16_t heading = 0;                                  // 0.1 degree, 0..3599
    int16_t dop = 0;                                      // 0.1
    uint8_t visibleSats = 0, trackedSats = 0;
    std::array<std::array<uint8_t, 6>, 12> channels{};    // SVID, mode, signal, IODE, flags1, flags2|accuracy
    uint8_t status1 = 0;                                  // bits 7-5: status code (7 = 3D fix)
    uint8_t status2 = 0;                                  // bits 2-1: antenna sense, bit 0: internal
    int16_t clockBias = 0;                                // ns
    int32_t oscOffset = 0;                                // Hz
    uint16_t temperature = 0;                             // half degrees Celsius
    uint8_t utcParameters = 0;                            // bit 7 enabled, bit 6 decoded, bits 5-0 offset
    bool gmtNegative = false;
    uint8_t gmtHours = 0, gmtMinutes = 0;
    std::array<char, 6> idTag{};
};

// The receiver's 152-byte position/status/data message; every multi-byte
// field is big-endian, unlike the frames that carry it.
class GpsMessageEncoder
{
public:
    static constexpr std::size_t kLength = 152;
    static std::array<uint8_t, kLength> encode(const GpsFix& fix);
    // Degrees to milliarcseconds, rounded to the nearest.
    static int32_t toMilliarcseconds(double degrees);
};
