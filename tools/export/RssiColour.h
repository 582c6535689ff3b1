#pragma once

#include <cstdint>
#include <string>

// An RSSI as a colour in a range: blue (hue 240°) at the minimum to red
// (hue 0°) at the maximum, full saturation and value, clamped outside.
class RssiColour
{
public:
    struct Rgb
    {
        uint8_t r = 0, g = 0, b = 0;
        bool operator==(const Rgb&) const = default;
    };

    static double hue(int rssi, int min, int max);
    static Rgb of(int rssi, int min, int max);
    // KML's aabbggrr, opaque.
    static std::string kml(int rssi, int min, int max);
};
