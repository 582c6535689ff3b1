#include "RssiPalette.h"

#include <algorithm>

RssiPalette::RssiPalette(int minimum, int maximum)
    : m_min(std::min(minimum, maximum))
    , m_max(std::max(minimum, maximum))
{
}

double RssiPalette::position(int rssi) const
{
    if (m_max == m_min)
        return rssi >= m_max ? 1.0 : 0.0;
    return std::clamp(double(rssi - m_min) / double(m_max - m_min), 0.0, 1.0);
}

RssiPalette::Rgb RssiPalette::rgb(int rssi) const
{
    // HSV with S = V = 1 in closed form: exact pure blue, green and red at
    // the anchors, and no colour-library round trip per point.
    const double hue = 240.0 * (1.0 - position(rssi)); // degrees
    const double sector = hue / 60.0;
    const int i = std::min(int(sector), 3);
    const double f = sector - i;
    const auto rising = uint8_t(f * 255.0 + 0.5);
    const auto falling = uint8_t(255 - rising);
    switch (i) {
    case 0: return {255, rising, 0};   // red to yellow
    case 1: return {falling, 255, 0};  // yellow to green
    case 2: return {0, 255, rising};   // green to cyan
    default: return {0, falling, 255}; // cyan to blue (f is 1 at 240°)
    }
}

uint32_t RssiPalette::argb(int rssi) const
{
    const Rgb c = rgb(rssi);
    return 0xff000000u | uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
}

std::vector<int> RssiPalette::legendValues(int most) const
{
    std::vector<int> values{m_min};
    if (m_max == m_min)
        return values;
    const int span = m_max - m_min;
    most = std::max(1, most);
    int step = 1;
    for (int decade = 1;; decade *= 10) {
        if (span <= most * decade) {
            step = decade;
            break;
        }
        if (span <= most * 2 * decade) {
            step = 2 * decade;
            break;
        }
        if (span <= most * 5 * decade) {
            step = 5 * decade;
            break;
        }
    }
    // Multiples of the step strictly inside; one within half a step of an
    // end would crowd its label on a short bar.
    const int below = (m_min >= 0 ? m_min / step : -((step - 1 - m_min) / step)) * step; // m_min rounded down
    for (int v = below + step; v < m_max; v += step)
        if (2 * (v - m_min) > step && 2 * (m_max - v) > step)
            values.push_back(v);
    values.push_back(m_max);
    return values;
}
