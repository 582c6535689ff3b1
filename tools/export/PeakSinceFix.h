#pragma once

#include "drive/DriveSample.h"

#include <array>
#include <optional>

// The strongest placed sample of each receiver since the last used fix:
// what a track point stands for.
class PeakSinceFix
{
public:
    void add(const DriveSample& s);
    // Per receiver; empty when nothing was placed since the last take().
    std::optional<int> peak(int receiver) const { return m_peak[size_t(receiver)]; }
    // The strongest of both, and whose it is.
    std::optional<int> strongest(int& receiver) const;
    void clear() { m_peak = {}; }

private:
    std::array<std::optional<int>, 2> m_peak;
};
