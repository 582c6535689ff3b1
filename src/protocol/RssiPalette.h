#pragma once

#include <cstdint>
#include <vector>

// The one RSSI palette of every picture we make (map dots, exports, coverage
// cells, the scan history): blue (hue 240°) at the range's minimum through
// green to red (hue 0°) at its maximum, full saturation and value, clamped
// outside. The logger passes the range on unchecked, so a reversed range is
// read lowest-to-highest and an empty one splits at its single value.
class RssiPalette
{
public:
    struct Rgb
    {
        uint8_t r = 0, g = 0, b = 0;
        bool operator==(const Rgb&) const = default;
    };

    // The one dBm scale every picture starts on, so that a reading has one
    // colour wherever it is shown: the logger's mapping range, the map's,
    // klf-coverage's and the scan history's waterfall.
    static constexpr int kDefaultMinimum = -120; // dBm
    static constexpr int kDefaultMaximum = -50;  // dBm

    RssiPalette(int minimum = kDefaultMinimum, int maximum = kDefaultMaximum); // dBm, either order

    int minimum() const { return m_min; } // dBm
    int maximum() const { return m_max; } // dBm

    double position(int rssi) const; // 0 at the minimum, 1 at the maximum
    Rgb rgb(int rssi) const;
    // Opaque 0xAARRGGBB, the layout of Qt's QRgb.
    uint32_t argb(int rssi) const;

    // What a legend labels, lowest first: both ends and, between them, the
    // multiples of a round step (1, 2 or 5 times a power of ten dB) that
    // leave at most `most` intervals.
    std::vector<int> legendValues(int most = 7) const;

    bool operator==(const RssiPalette&) const = default;

private:
    int m_min;
    int m_max;
};
