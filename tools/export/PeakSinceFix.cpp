#include "PeakSinceFix.h"

void PeakSinceFix::add(const DriveSample& s)
{
    if (!s.placed)
        return;
    std::optional<int>& p = m_peak[s.receiver];
    if (!p || s.rssi > *p)
        p = s.rssi;
}

std::optional<int> PeakSinceFix::strongest(int& receiver) const
{
    std::optional<int> best;
    for (int r = 0; r < 2; ++r) {
        if (m_peak[size_t(r)] && (!best || *m_peak[size_t(r)] > *best)) {
            best = m_peak[size_t(r)];
            receiver = r;
        }
    }
    return best;
}
