#pragma once

#include "drive/DriveSink.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

// Local means by Lee's method: along the route, each channel's consecutive
// samples over a stretch of 40 wavelengths are averaged as power (mW), which
// takes out the fast fading that a median of single readings is biased by
// (about 1.6 dB low under Rayleigh fading). A stretch with fewer than 36
// samples says too little and is dropped.
//
// A stretch ends where the route does not go on: a gap in time or a jump in
// place larger than the stretch itself, or the end of the drive.
class LeeLocalMeans : public DriveSink
{
public:
    static constexpr double kWavelengths = 40;
    static constexpr uint32_t kMinSamples = 36;
    static constexpr int64_t kMaxGapMs = 10'000;

    struct Mean
    {
        uint8_t receiver = 0;  // 0 (R1) or 1 (R2)
        int64_t frequency = 0; // CoverageCells::frequencyKey
        double latitude = 0;   // the stretch's centre, degrees
        double longitude = 0;
        double dbm = 0;        // the mean power, in dBm
        uint32_t samples = 0;
    };

    // Metres of a stretch at a frequency: 40 wavelengths.
    static double stretchMetres(double frequencyMHz);

    void sample(const DriveSample& sample) override;
    // Ends every open stretch: at the end of each drive.
    void finish();
    const std::vector<Mean>& means() const { return m_means; }
    std::vector<Mean> takeMeans() { return std::move(m_means); }

private:
    struct Stretch
    {
        double length = 0;     // metres this stretch must cover
        double travelled = 0;  // metres so far
        double lastLatitude = 0, lastLongitude = 0;
        int64_t lastMs = 0;
        double sumMw = 0;
        double sumLatitude = 0, sumLongitude = 0;
        uint32_t samples = 0;
    };
    struct KeyHash
    {
        size_t operator()(uint64_t k) const { return size_t(k * 0x9E3779B97F4A7C15ull); }
    };

    void close(uint64_t key, Stretch& s);

    std::unordered_map<uint64_t, Stretch, KeyHash> m_open; // frequency << 1 | receiver
    std::vector<Mean> m_means;
};
