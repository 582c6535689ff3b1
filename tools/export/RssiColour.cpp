#include "RssiColour.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

double RssiColour::hue(int rssi, int min, int max)
{
    if (max <= min)
        return rssi >= max ? 0.0 : 240.0;
    const double t = std::clamp(double(rssi - min) / double(max - min), 0.0, 1.0);
    return 240.0 * (1.0 - t);
}

RssiColour::Rgb RssiColour::of(int rssi, int min, int max)
{
    const double h = hue(rssi, min, max) / 60.0;
    const int sector = std::min(int(h), 3);
    const double f = h - sector;
    auto byte = [](double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    switch (sector) {
    case 0: return {255, byte(f), 0};        // red to yellow
    case 1: return {byte(1.0 - f), 255, 0};  // yellow to green
    case 2: return {0, 255, byte(f)};        // green to cyan
    default: return {0, byte(1.0 - f), 255}; // cyan to blue
    }
}

std::string RssiColour::kml(int rssi, int min, int max)
{
    const Rgb c = of(rssi, min, max);
    char text[9];
    std::snprintf(text, sizeof text, "ff%02x%02x%02x", c.b, c.g, c.r);
    return text;
}
