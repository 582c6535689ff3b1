#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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
    static constexpr uint16_t kReceiverConfigLength = 25;
    static constexpr size_t kSettingsBlockSize = 12;

    std::string serialNumber; // at most 8 characters are kept
    std::array<bool, 2> receiverActive{};
    std::array<std::array<uint8_t, kSettingsBlockSize>, 2> settingsBlocks{};
    // The channel information packet from its length field on; empty if none.
    std::vector<uint8_t> channelInfo;

    std::vector<uint8_t> bytes() const;

    // The first kIdentificationEnd bytes every header starts with.
    static std::array<uint8_t, kIdentificationEnd> identificationPrefix();
};
