#pragma once

#include <cstdint>
#include <random>
#include <vector>

// Plausible received levels over a band: a noise floor with a few strong
// carriers that drift in level and slowly wander along the band.
class RssiField
{
public:
    static constexpr int kMin = -120; // dBm
    static constexpr int kMax = -30;  // dBm

    // positions: band positions 1..positions.
    RssiField(int positions, uint32_t seed);

    int8_t at(int position, double t);
    // Band positions of the strong carriers at t, strongest first.
    std::vector<int> strongPositions(double t) const;

private:
    struct Carrier
    {
        double position;  // band position at t = 0
        double wander;    // positions
        double level;     // dBm
        double period;    // s
        double phase;
    };
    double carrierPosition(const Carrier& c, double t) const;
    double carrierLevel(const Carrier& c, double t) const;

    int m_positions;
    std::vector<Carrier> m_carriers;
    std::mt19937 m_rng;
};
