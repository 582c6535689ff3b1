#pragma once

#include "FrameEncoder.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The device's messages, encoded here from the layout as the device has it
// and never with the program's codec (src/protocol) on purpose: the tests run
// the program against this emulator, so a layout misread in the codec shows
// up as a failure instead of being checked against itself.

// A receiver's band as the device reports it in ReceiverSetup.
struct BandSettings
{
    uint32_t lowEdge = 0;   // channel steps
    uint32_t highEdge = 0;  // channel steps
    uint16_t stepRaw = 0;   // 1/256 kHz
    bool numbering991 = false;
};

struct ScanEntry
{
    uint8_t receiver = 0; // 0 or 1
    uint8_t slot = 0;     // 0..9
    int8_t rssi = 0;      // dBm
};

struct TableEntry
{
    uint8_t receiver = 0; // 0 or 1
    uint16_t index = 0;   // channel number - 1
    int8_t rssi = 0;      // dBm
};

// The device's own real-time clock as ClockMarker carries it.
struct DeviceClock
{
    uint8_t seconds = 0, minutes = 0, hours = 0, day = 1, month = 1;
    uint16_t year = 2000; // full year; the wire carries year - 2000
    uint8_t marker = 0;
};

// Encoders of every message the device sends. Multi-byte fields are
// little-endian except inside the GPS message, which arrives big-endian and
// is encoded by GpsMessageEncoder.
class DeviceMessages
{
public:
    static constexpr std::size_t kScanEntries = 5;
    static constexpr std::size_t kTableEntries = 4;
    static constexpr std::size_t kSerialLength = 8;
    static constexpr std::size_t kGpsLength = 152;

    static SimFrame receiverSetup(uint8_t activeFlags, const BandSettings& r1, const BandSettings& r2);
    static SimFrame singleBlock(int receiver, std::span<const int8_t> samples);
    static SimFrame clockMarker(const DeviceClock& clock);
    static SimFrame currentFrequency(uint32_t r1, uint32_t r2);
    static SimFrame scanChannelList(const std::array<uint32_t, 10>& r1, const std::array<uint32_t, 10>& r2);
    // Short lists are padded by repeating the last entry, which changes
    // nothing on the far side whatever it makes of the extra entries.
    static SimFrame scanReport(std::span<const ScanEntry> entries);
    static SimFrame tableReport(std::span<const TableEntry> entries);
    static SimFrame serialNumber(std::string_view text);
    static SimFrame gpsMessage(const std::array<uint8_t, kGpsLength>& message);

    static std::string typeName(uint8_t type);
    static std::string commandName(uint8_t type);
};
