#include "RssiField.h"

#include <algorithm>
#include <cmath>

RssiField::RssiField(int positions, uint32_t seed) : m_positions(std::max(1, positions)), m_rng(seed)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int count = std::min(5, m_positions);
    for (int k = 0; k < count; ++k) {
        Carrier c;
        c.position = 1 + (k + 0.3 + 0.4 * unit(m_rng)) * (m_positions - 1) / count;
        c.wander = std::min(3.0, m_positions / 50.0);
        c.level = -40.0 - 6.0 * k - 4.0 * unit(m_rng);
        c.period = 40.0 + 30.0 * unit(m_rng);
        c.phase = 6.28 * unit(m_rng);
        m_carriers.push_back(c);
    }
}

double RssiField::carrierPosition(const Carrier& c, double t) const
{
    return std::clamp(c.position + c.wander * std::sin(t / (3 * c.period) + c.phase), 1.0, double(m_positions));
}

double RssiField::carrierLevel(const Carrier& c, double t) const
{
    return c.level - 8.0 + 8.0 * std::sin(t * 6.28 / c.period + c.phase);
}

int8_t RssiField::at(int position, double t)
{
    std::uniform_real_distribution<double> noise(-6.0, 4.0);
    double level = -112.0 + noise(m_rng);
    for (const Carrier& c : m_carriers) {
        // About 12 dB down per channel away from the carrier.
        const double away = std::abs(position - carrierPosition(c, t));
        level = std::max(level, carrierLevel(c, t) - 12.0 * away + noise(m_rng) / 2);
    }
    return int8_t(std::clamp(int(std::lround(level)), kMin, kMax));
}

std::vector<int> RssiField::strongPositions(double t) const
{
    std::vector<int> out;
    for (const Carrier& c : m_carriers)
        out.push_back(int(std::lround(carrierPosition(c, t))));
    return out;
}
