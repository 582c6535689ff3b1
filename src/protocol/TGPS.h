#pragma once

#include <array>
#include <cstdint>
#include <string>

// The decoded 12-channel GPS position/status/data message (152 bytes,
// big-endian). A plain value: readers work on a copy taken from GpsRecord.
class TGPS
{
public:
    static constexpr int kMessageSize = 152;
    static constexpr int kChannels = 12;
    static constexpr int kChannelBlockSize = 6;

    TGPS();

    // Reads exactly kMessageSize bytes from message.
    void Decode(const uint8_t* message);

    std::string DateText() const;
    std::string TimeText() const;
    std::string FilteredLatitudeText() const;
    std::string FilteredLongitudeText() const;
    std::string LatitudeText() const;
    std::string LongitudeText() const;
    std::string HeadingText() const;
    std::string GMTOffsetText() const;
    std::string ReceiverStatusText() const;
    std::string AntennaText() const;
    int StatusCode() const;
    // Receiver status byte 1, bits 1 and 0 (bits 7-5 are the status code).
    bool FastAcquisition() const;
    bool FilterReset() const;

    std::array<uint8_t, kMessageSize> Message{};
    std::array<std::string, 20> CompassPoints;
    std::array<std::string, 8> StatusTexts;
    std::array<std::string, 4> AntennaTexts;
    int16_t Month = 0, Day = 0, Year = 0;
    int16_t Hours = 0, Minutes = 0, Seconds = 0;
    int16_t DOP = 0;       // tenths
    int16_t Heading = 0;   // tenths of a degree
    int16_t Speed3D = 0;   // cm/s
    int16_t Speed2D = 0;   // cm/s
    int16_t ClockBias = 0; // ns
    bool GMTNegative = false;
    int16_t GMTHours = 0, GMTMinutes = 0;
    char IDTag[7] = {};
    double FilteredLatitude = 0, FilteredLongitude = 0;   // degrees
    double FilteredGPSHeight = 0, FilteredMSLHeight = 0;  // cm
    double Latitude = 0, Longitude = 0;                   // degrees
    double GPSHeight = 0, MSLHeight = 0;                  // cm
    double Temperature = 0;                               // degrees Celsius, in halves
    uint8_t StatusByte = 0;
    int16_t VisibleSats = 0, TrackedSats = 0;
    int32_t OscOffset = 0; // Hz
    std::array<uint8_t, 2> ReceiverStatus{};
    std::array<std::array<uint8_t, kChannelBlockSize>, kChannels> Channels{};
    bool UTCEnabled = false, UTCOffsetDecoded = false;
    int16_t UTCOffsetValue = 0;
};
