#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The header at the start of a new .KLF file, as the converter reads it:
//   6 zero bytes
//   identification record  0F 00 80 "ZKTTAVRIX0401" checksum
//   serial number record   0B 00 81 serial[8] 00 checksum
//   receiver configuration 19 00 01 flags block0[12] block1[0..10]
//   channel information    the stored packet record, when there is one
// The configuration record is short by design of the converter: L = 25 and no
// checksum, so it ends after the eleventh byte of the second block.
//
// Every offset of the header lives here: bytes() writes it and read() reads
// it back, so the writer and every reader agree by construction.
class KlfHeader
{
public:
    static constexpr char kIdentifier[] = "ZKTTAVRIX0401";
    static constexpr size_t kIdentifierLength = 13;
    static constexpr size_t kLeadingZeros = 6;
    static constexpr size_t kIdentificationEnd = 23; // enough to recognise a header
    static constexpr size_t kSerialRecordOffset = 23;
    static constexpr size_t kConfigRecordOffset = 36;
    static constexpr size_t kFixedSize = 63; // without channel information
    static constexpr uint8_t kIdentificationType = 0x80;
    static constexpr uint8_t kSerialNumberType = 0x81;
    static constexpr uint8_t kReceiverConfigType = 0x01;
    static constexpr uint16_t kSerialRecordLength = 11;
    static constexpr size_t kSerialNumberSize = 8;
    static constexpr uint16_t kReceiverConfigLength = 25;
    static constexpr size_t kSettingsBlockSize = 12;

    using SettingsBlock = std::array<uint8_t, kSettingsBlockSize>;

    std::string serialNumber; // at most 8 characters are kept
    std::array<bool, 2> receiverActive{};
    std::array<SettingsBlock, 2> settingsBlocks{};
    // The channel information packet from its length field on; empty if none.
    std::vector<uint8_t> channelInfo;

    std::vector<uint8_t> bytes() const;

    // The first kIdentificationEnd bytes every header starts with.
    static std::array<uint8_t, kIdentificationEnd> identificationPrefix();

    // A stored header read back. The flags byte stays as stored (bit 0 R1
    // active, bit 1 R2), since the replay hands it on unchanged; receiver 2's
    // block holds 11 stored bytes and reads 0 in its last.
    struct Stored
    {
        std::string serialNumber;
        uint8_t receiverFlags = 0;
        std::array<SettingsBlock, 2> settingsBlocks{};
    };
    struct Fault
    {
        size_t offset = 0; // of the record that is wrong
        const char* what = "";
    };
    // The fixed part of a header whose identification has been recognised;
    // fault says which record is wrong when it is not a header after all.
    static std::optional<Stored> read(std::span<const uint8_t, kFixedSize> fixed, Fault& fault);
};
