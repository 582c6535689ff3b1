#pragma once

#include "link/OpeningRequest.h"

#include <cstdint>

// The codes in a frame's type byte: what the device sends and what the
// program asks for. One list for the codec, the decoder and the log control.
struct Message
{
    enum Type : uint8_t {
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

    // Commands to the device; all carry an empty payload. The link thread
    // sends the serial number request itself each time the port opens.
    enum Command : uint8_t {
        SettingsRequest = 1,
        SerialNumberRequest = kOpeningRequest,
        ChannelInfoRequest = 48,
    };

    // The packets that need channel information to be read.
    static constexpr bool isMeasurement(uint8_t type)
    {
        return type == SingleBlockR1 || type == SingleBlockR2 || type == ScanReport;
    }
};
