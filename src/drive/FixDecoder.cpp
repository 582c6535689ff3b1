#include "FixDecoder.h"

#include "platform/UtcTime.h"
#include "protocol/MessageCodec.h"

#include <cmath>

namespace {
constexpr int kFixStatus2D = 6;
}

DriveFix FixDecoder::decode(std::span<const uint8_t> payload, uint64_t record)
{
    DriveFix f;
    f.record = record;
    const auto message = MessageCodec::gpsMessage(payload);
    if (!message)
        return f;
    m_gps.Decode(message->data());
    f.latitude = m_gps.Latitude;
    f.longitude = m_gps.Longitude;
    f.heightM = m_gps.MSLHeight / 100.0;
    f.speedMps = m_gps.Speed2D / 100.0;
    f.headingDeg = m_gps.Heading / 10.0;
    f.status = m_gps.StatusCode();
    f.satellites = m_gps.TrackedSats;
    f.dop = m_gps.DOP / 10.0;
    f.timeValid = UtcTime::fromCivil(m_gps.Year, m_gps.Month, m_gps.Day, m_gps.Hours, m_gps.Minutes, m_gps.Seconds,
                                     f.timeMs);
    const bool possible = std::isfinite(f.latitude) && std::isfinite(f.longitude) && std::fabs(f.latitude) <= 90.0
                          && std::fabs(f.longitude) <= 180.0;
    f.used = f.status >= kFixStatus2D && possible && f.timeValid;
    return f;
}
