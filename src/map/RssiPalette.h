#pragma once

#include <QColor>

// The drive-test palette: blue (hue 240°) at the range's minimum through
// green to red (hue 0°) at its maximum, full saturation and value, clamped
// outside. The logger passes the range on unchecked, so a reversed range is
// read lowest-to-highest and an empty one splits at its single value.
class RssiPalette
{
public:
    RssiPalette(int minimum = -120, int maximum = -50); // dBm, either order

    int minimum() const { return m_min; } // dBm
    int maximum() const { return m_max; } // dBm

    double position(int rssi) const; // 0 at the minimum, 1 at the maximum
    QRgb rgb(int rssi) const;
    QColor colour(int rssi) const { return QColor::fromRgb(rgb(rssi)); }

    bool operator==(const RssiPalette&) const = default;

private:
    int m_min;
    int m_max;
};
