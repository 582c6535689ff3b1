#pragma once

#include "link/FrameLengths.h"
#include "protocol/MessageType.h"
#include "protocol/ReceiverSettings.h"
#include "protocol/TGPS.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Each device message's layout, written once: its type, its payload size (or
// the longest it may be) and its fields, read by typed parsers. The decoder,
// the drive model, klf-inspect and the replay read payloads only through
// these; what each does with the fields stays its own.
//
// A parser takes the payload (the bytes after the type byte, without the
// checksum) and returns nothing when it is too short for its message; bytes
// beyond a fixed-size message are not read. All multi-byte fields are
// little-endian but the GPS message's, which TGPS reads.
//
// The emulator in tools/sim encodes messages with code of its own on purpose,
// so the tests never check this codec against itself.
class MessageCodec
{
public:
    static constexpr int kReceivers = 2;
    static constexpr int kScanSlots = 10;
    static constexpr int kScanEntries = 5;
    static constexpr int kTableEntries = 4;

    // Payload sizes of the fixed-size messages, in bytes.
    static constexpr int kGpsMessageSize = TGPS::kMessageSize;
    static constexpr int kReceiverSetupSize = 1 + kReceivers * ReceiverSettings::kBlockSize;
    static constexpr int kClockMarkerSize = 7;
    static constexpr int kCurrentFrequencySize = kReceivers * 4;
    static constexpr int kScanChannelListSize = kReceivers * kScanSlots * 4;
    static constexpr int kScanReportSize = kScanEntries * 3;
    static constexpr int kTableReportSize = kTableEntries * 4;
    static constexpr int kSerialNumberSize = 8;

    // The longest L a GPS packet or a packet of a type we do not know may
    // have: the GPS receiver's message is read for its first 152 bytes only
    // and may carry a trailer of its own; unknown messages are short status
    // reports. See frameLengths().
    static constexpr int kShortMessageMaxLength = 256;

    struct ReceiverSetup
    {
        uint8_t activeFlags; // bit r: receiver r active
        std::array<std::array<uint8_t, ReceiverSettings::kBlockSize>, kReceivers> blocks;
        bool active(int r) const { return (activeFlags & (1 << r)) != 0; }
    };

    struct SingleBlock
    {
        std::span<const uint8_t> samples; // one signed byte each, dBm; may be empty
        // The mean truncated toward zero, as the program shows it; nothing
        // for an empty block, which measured nothing.
        std::optional<int8_t> mean() const;
    };

    struct ClockMarker
    {
        // seconds, minutes, hours, day, month, year - 2000, marker number
        std::array<uint8_t, kClockMarkerSize> fields;
    };

    struct CurrentFrequency
    {
        std::array<uint32_t, kReceivers> current; // channel steps
    };

    struct ScanChannelList
    {
        // Per slot, channel steps. (Not "slots": Qt defines that as a macro.)
        std::array<std::array<uint32_t, kScanSlots>, kReceivers> channels;
    };

    struct ScanEntry
    {
        uint8_t receiver; // 0 or 1 from the device; anything else is noise
        uint8_t slot;     // 0..9 from the device
        int8_t rssi;      // dBm
        bool operator==(const ScanEntry&) const = default;
    };
    using ScanReport = std::array<ScanEntry, kScanEntries>;

    struct TableEntry
    {
        uint8_t receiverByte; // as sent: 0 is receiver 0, any other value receiver 1
        uint16_t index;       // channel - 1
        int8_t rssi;          // dBm; 0 means never received
        int receiver() const { return receiverByte == 0 ? 0 : 1; }
        bool operator==(const TableEntry&) const = default;
    };
    using TableReport = std::array<TableEntry, kTableEntries>;

    // The GPS receiver's message, for TGPS::Decode.
    static std::optional<std::span<const uint8_t, kGpsMessageSize>> gpsMessage(std::span<const uint8_t> payload);
    static std::optional<ReceiverSetup> receiverSetup(std::span<const uint8_t> payload);
    static SingleBlock singleBlock(std::span<const uint8_t> payload);
    static std::optional<ClockMarker> clockMarker(std::span<const uint8_t> payload);
    static std::optional<CurrentFrequency> currentFrequency(std::span<const uint8_t> payload);
    static std::optional<ScanChannelList> scanChannelList(std::span<const uint8_t> payload);
    static std::optional<ScanReport> scanReport(std::span<const uint8_t> payload);
    static std::optional<TableReport> tableReport(std::span<const uint8_t> payload);
    // The text before the first NUL of the eight bytes.
    static std::optional<std::string> serialNumber(std::span<const uint8_t> payload);

    // Single-block types: the receiver they carry, or -1 for any other type.
    static int singleBlockReceiver(uint8_t type);

    // What the framer may accept per type, for the link to be handed.
    static FrameLengths frameLengths();
};
