#pragma once

#include <cstdint>

// Type codes on the wire, device to program and program to device.
namespace sim {

enum DeviceMessage : uint8_t {
    GpsMessage = 0,
    ReceiverSetup = 1,
    SingleBlockR1 = 2,
    SingleBlockR2 = 3,
    ClockMarker = 4,
    CurrentFrequency = 5,
    ScanChannelList = 6,
    ScanReport = 7,
    TableReport = 9,
    SerialNumber = 28,
};

enum Command : uint8_t {
    SettingsRequest = 1,
    SerialNumberRequest = 28,
    ChannelInfoRequest = 48,
};

// The reports that carry receiver RSSI, in every mode. Not the same set as
// the program's Message::isMeasurement: the packets its log warning counts
// as unreadable without channel information.
constexpr bool carriesRssi(uint8_t type)
{
    return type == SingleBlockR1 || type == SingleBlockR2 || type == ScanReport || type == TableReport;
}

} // namespace sim
