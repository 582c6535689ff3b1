#include "coverage/LeeLocalMeans.h"

#include "coverage/CoverageCells.h"

#include <cmath>
#include <numbers>

namespace {

constexpr double kSpeedOfLight = 299'792'458.0; // m/s
constexpr double kEarthRadius = 6'371'008.8;     // m, mean

// Steps between samples are metres long: the flat approximation is exact
// to well under a millimetre there.
double metresBetween(double lat1, double lon1, double lat2, double lon2)
{
    constexpr double kDeg = std::numbers::pi / 180.0;
    double dLon = lon2 - lon1;
    if (dLon > 180)
        dLon -= 360;
    else if (dLon < -180)
        dLon += 360;
    const double x = dLon * kDeg * std::cos((lat1 + lat2) / 2 * kDeg);
    const double y = (lat2 - lat1) * kDeg;
    return kEarthRadius * std::hypot(x, y);
}

} // namespace

double LeeLocalMeans::stretchMetres(double frequencyMHz)
{
    return kWavelengths * kSpeedOfLight / (frequencyMHz * 1e6);
}

void LeeLocalMeans::sample(const DriveSample& s)
{
    if (!s.placed || s.frequencyMHz <= 0)
        return;
    const int64_t frequency = CoverageCells::frequencyKey(s.frequencyMHz);
    const uint64_t key = uint64_t(frequency) << 1 | s.receiver;
    Stretch& st = m_open[key];
    if (st.samples > 0) {
        const double step = metresBetween(st.lastLatitude, st.lastLongitude, s.latitude, s.longitude);
        if (s.timeMs - st.lastMs > kMaxGapMs || s.timeMs < st.lastMs || step > st.length) {
            // Not the same stretch of road: what came before stands alone.
            close(key, st);
        } else {
            st.travelled += step;
        }
    }
    if (st.samples == 0)
        st.length = stretchMetres(s.frequencyMHz);
    st.lastLatitude = s.latitude;
    st.lastLongitude = s.longitude;
    st.lastMs = s.timeMs;
    st.sumMw += std::pow(10.0, s.rssi / 10.0);
    st.sumLatitude += s.latitude;
    st.sumLongitude += s.longitude;
    ++st.samples;
    if (st.travelled >= st.length)
        close(key, st);
}

void LeeLocalMeans::close(uint64_t key, Stretch& s)
{
    if (s.samples >= kMinSamples) {
        Mean m;
        m.receiver = uint8_t(key & 1);
        m.frequency = int64_t(key >> 1);
        m.latitude = s.sumLatitude / s.samples;
        m.longitude = s.sumLongitude / s.samples;
        m.dbm = 10.0 * std::log10(s.sumMw / s.samples);
        m.samples = s.samples;
        m_means.push_back(m);
    }
    s = Stretch{};
}

void LeeLocalMeans::finish()
{
    for (auto& [key, s] : m_open)
        close(key, s);
    m_open.clear();
}
