#include "TGPS.h"

#include "link/ByteOrder.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Degrees in one milliarcsecond, 1 / 3 600 000 as a double.
constexpr double kDegreesPerMas = 2.7777777777777776e-07;
// Tenths of a degree per compass sector (22.5 degrees).
constexpr int kSectorTenths = 225;
// Headings the compass table can answer, in tenths of a degree: slots 0..19.
constexpr int kMaxHeading = 4499;

// Message offsets.
constexpr int kMonth = 4;
constexpr int kDay = 5;
constexpr int kYear = 6;
constexpr int kHours = 8;
constexpr int kMinutes = 9;
constexpr int kSeconds = 10;
constexpr int kFilteredLatitude = 15;
constexpr int kFilteredLongitude = 19;
constexpr int kFilteredGPSHeight = 23;
constexpr int kFilteredMSLHeight = 27;
constexpr int kLatitude = 31;
constexpr int kLongitude = 35;
constexpr int kGPSHeight = 39;
constexpr int kMSLHeight = 43;
constexpr int kSpeed3D = 47;
constexpr int kSpeed2D = 49;
constexpr int kHeading = 51;
constexpr int kDOP = 53;
constexpr int kVisibleSats = 55;
constexpr int kTrackedSats = 56;
constexpr int kChannelBlocks = 57;
constexpr int kStatus1 = 129;
constexpr int kStatus2 = 130;
constexpr int kClockBias = 133;
constexpr int kOscOffset = 135;
constexpr int kTemperature = 139;
constexpr int kUtc = 141;
constexpr int kGmtSign = 142;
constexpr int kGmtHours = 143;
constexpr int kGmtMinutes = 144;
constexpr int kIdTag = 145;
constexpr int kIdTagSize = 6;

using ByteOrder::getbes16;
using ByteOrder::getbes32;

double degrees(const uint8_t* p)
{
    // The product is formed in extended precision so the stored double is
    // the correctly rounded value the mapping application expects.
    return double(static_cast<long double>(getbes32(p)) * static_cast<long double>(kDegreesPerMas));
}

std::string hemisphereText(double value, char positive, char negative)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.4f %c", std::fabs(value), value > 0 ? positive : negative);
    return text;
}

} // namespace

TGPS::TGPS()
    : CompassPoints{"N", "NNE", "NE", "ENE", "E", "ESE", "SE", "SSE", "S", "SSW",
                    "SW", "WSW", "W", "WNW", "NW", "NNW", "N", "", "", ""}
    , StatusTexts{"Reserved", "Reserved", "Bad Geometry", "Acquiring Satellites",
                  "Position Hold", "Propogate Mode", "2D Fix", "3D Fix"}
    , AntennaTexts{"OK", "Overcurrent", "Undercurrent", "NV"}
{
}

void TGPS::Decode(const uint8_t* message)
{
    const uint8_t* m = Message.data();
    std::memmove(Message.data(), message, kMessageSize);

    FilteredLatitude = degrees(m + kFilteredLatitude);
    FilteredLongitude = degrees(m + kFilteredLongitude);
    Latitude = degrees(m + kLatitude);
    Longitude = degrees(m + kLongitude);

    FilteredGPSHeight = getbes32(m + kFilteredGPSHeight);
    FilteredMSLHeight = getbes32(m + kFilteredMSLHeight);
    GPSHeight = getbes32(m + kGPSHeight);
    MSLHeight = getbes32(m + kMSLHeight);

    Speed3D = getbes16(m + kSpeed3D);
    Speed2D = getbes16(m + kSpeed2D);
    Heading = getbes16(m + kHeading);
    Year = getbes16(m + kYear);
    DOP = getbes16(m + kDOP);
    ClockBias = getbes16(m + kClockBias);

    VisibleSats = m[kVisibleSats];
    TrackedSats = m[kTrackedSats];
    Month = m[kMonth];
    Day = m[kDay];
    Hours = m[kHours];
    Minutes = m[kMinutes];
    Seconds = m[kSeconds];

    StatusByte = m[kStatus1];
    ReceiverStatus = {m[kStatus1], m[kStatus2]};

    OscOffset = getbes32(m + kOscOffset);
    // Signed half degrees on the wire (-110 to 250): below freezing is
    // common in the field, and the half is worth showing.
    Temperature = getbes16(m + kTemperature) / 2.0;

    UTCEnabled = (m[kUtc] & 0x80) != 0;
    UTCOffsetDecoded = (m[kUtc] & 0x40) != 0;
    UTCOffsetValue = m[kUtc] & 0x3F;

    GMTNegative = m[kGmtSign] != 0;
    GMTHours = m[kGmtHours];
    GMTMinutes = m[kGmtMinutes];

    std::memcpy(IDTag, m + kIdTag, kIdTagSize);
    IDTag[kIdTagSize] = '\0';

    for (int n = 0; n < kChannels; ++n)
        std::memcpy(Channels[n].data(), m + kChannelBlocks + kChannelBlockSize * n, kChannelBlockSize);
}

std::string TGPS::DateText() const
{
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", Month, Day, Year);
    return text;
}

std::string TGPS::TimeText() const
{
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", Hours, Minutes, Seconds);
    return text;
}

std::string TGPS::FilteredLatitudeText() const { return hemisphereText(FilteredLatitude, 'N', 'S'); }
std::string TGPS::FilteredLongitudeText() const { return hemisphereText(FilteredLongitude, 'E', 'W'); }
std::string TGPS::LatitudeText() const { return hemisphereText(Latitude, 'N', 'S'); }
std::string TGPS::LongitudeText() const { return hemisphereText(Longitude, 'E', 'W'); }

std::string TGPS::HeadingText() const
{
    // Truncated into its sector, not rounded: 350.0 degrees reads "NNW".
    // Headings the table has no slot for show nothing.
    if (Heading < 0 || Heading > kMaxHeading)
        return {};
    return CompassPoints[Heading / kSectorTenths];
}

std::string TGPS::GMTOffsetText() const
{
    char text[32];
    std::snprintf(text, sizeof text, "%c%02d:%02d", GMTNegative ? '-' : ' ', GMTHours, GMTMinutes);
    return text;
}

std::string TGPS::ReceiverStatusText() const
{
    return StatusTexts[(Message[kStatus1] & 0xE0) >> 5];
}

std::string TGPS::AntennaText() const
{
    return AntennaTexts[(Message[kStatus2] & 0x06) >> 1];
}

int TGPS::StatusCode() const
{
    return (StatusByte & 0xE0) >> 5;
}

bool TGPS::FastAcquisition() const
{
    return (StatusByte & 0x02) != 0;
}

bool TGPS::FilterReset() const
{
    return (StatusByte & 0x01) != 0;
}
