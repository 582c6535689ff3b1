#include "GpsRoute.h"

#include <cmath>
#include <numbers>

namespace {

constexpr double kMetresPerDegreeLat = 111132.0;
constexpr double kGeoidSeparationCm = -3350.0; // ellipsoid below mean sea level here
constexpr std::array<uint8_t, 12> kSvids = {2, 5, 7, 10, 13, 16, 19, 23, 26, 29, 31, 4};

double metresPerDegreeLon(double latitude)
{
    return 111320.0 * std::cos(latitude * std::numbers::pi / 180.0);
}

} // namespace

GpsFix GpsRoute::fixAt(double t, std::time_t utc)
{
    using std::numbers::pi;
    std::uniform_real_distribution<double> unit(-1.0, 1.0);

    GpsFix f;
    std::tm tm{};
    gmtime_r(&utc, &tm);
    f.month = uint8_t(tm.tm_mon + 1);
    f.day = uint8_t(tm.tm_mday);
    f.year = int16_t(tm.tm_year + 1900);
    f.hours = uint8_t(tm.tm_hour);
    f.minutes = uint8_t(tm.tm_min);
    f.seconds = uint8_t(tm.tm_sec);

    // Counter-clockwise round a circle whose southernmost point is the start.
    const double theta = -pi / 2 + (kSpeedCmS / 100.0) * t / kRadiusM;
    const double eastM = kRadiusM * std::cos(theta);
    const double northM = kRadiusM + kRadiusM * std::sin(theta);
    const double lat = kStartLatitude + northM / kMetresPerDegreeLat;
    const double lon = kStartLongitude + eastM / metresPerDegreeLon(kStartLatitude);
    double heading = std::atan2(-std::sin(theta), std::cos(theta)) * 180.0 / pi;
    if (heading < 0)
        heading += 360.0;

    f.filteredLatitude = GpsMessageEncoder::toMilliarcseconds(lat);
    f.filteredLongitude = GpsMessageEncoder::toMilliarcseconds(lon);
    // The unfiltered fix wanders by a few metres around the filtered one.
    f.latitude = GpsMessageEncoder::toMilliarcseconds(lat + 3.0 * unit(m_rng) / kMetresPerDegreeLat);
    f.longitude = GpsMessageEncoder::toMilliarcseconds(lon + 3.0 * unit(m_rng) / metresPerDegreeLon(lat));

    const double mslCm = 4000.0 + 1200.0 * std::sin(theta) + 500.0 * std::sin(3 * theta);
    f.filteredMslHeight = int32_t(std::lround(mslCm));
    f.filteredGpsHeight = int32_t(std::lround(mslCm + kGeoidSeparationCm));
    const double noisyMsl = mslCm + 300.0 * unit(m_rng);
    f.mslHeight = int32_t(std::lround(noisyMsl));
    f.gpsHeight = int32_t(std::lround(noisyMsl + kGeoidSeparationCm));

    const double speed2D = kSpeedCmS + 40.0 * unit(m_rng);
    const double climb = (kSpeedCmS / 100.0 / kRadiusM) * (1200.0 * std::cos(theta) + 1500.0 * std::cos(3 * theta));
    f.speed2D = int16_t(std::lround(speed2D));
    f.speed3D = int16_t(std::lround(std::sqrt(speed2D * speed2D + climb * climb)));
    f.heading = int16_t(int(std::lround(heading * 10.0)) % 3600);
    f.dop = int16_t(15 + std::lround(5 * std::sin(t / 53.0)));

    const long second = long(t);
    f.visibleSats = uint8_t(9 + std::lround(std::sin(t / 97.0)));
    f.trackedSats = uint8_t(f.visibleSats - ((second / 45) % 2));
    for (std::size_t n = 0; n < f.visibleSats && n < f.channels.size(); ++n) {
        auto& ch = f.channels[n];
        const bool tracked = n < f.trackedSats;
        ch[0] = kSvids[n];
        ch[1] = tracked ? 8 : 2;
        ch[2] = tracked ? uint8_t(140 + std::lround(50 * std::sin(t / 31.0 + double(n)))) : 0;
        ch[3] = uint8_t((second / 7200 + kSvids[n] * 11) & 0xFF);
        ch[4] = tracked ? 0x08 : 0x00;
        ch[5] = tracked ? uint8_t(0x80 | (1 + n % 3)) : 0x00;
    }

    // Now and then the fix falls back to 2D for a second, as in a street canyon.
    f.status1 = (second % 97 == 96) ? 0xC0 : 0xE0;
    f.status2 = 0x01; // antenna OK, code in internal memory
    f.clockBias = int16_t(120 + std::lround(30 * std::sin(t / 40.0)));
    f.oscOffset = int32_t(-8600 + std::lround(200 * std::sin(t / 300.0)));
    f.temperature = uint16_t(51 + std::lround(2 * std::sin(t / 600.0)));
    f.utcParameters = 0xC0 | 18;
    f.gmtNegative = true;
    f.gmtHours = 5;
    f.gmtMinutes = 0;
    f.idTag = {'T', 'A', 'V', 'R', 'I', 'X'};
    return f;
}
