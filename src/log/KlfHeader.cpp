#include "KlfHeader.h"

#include "link/ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace {

// Where the fields sit inside their records, from the length field on.
constexpr size_t kRecordBody = 3; // after the length field and the type
constexpr size_t kConfigFlags = 3;
constexpr size_t kConfigBlocks = 4;

uint8_t xorOf(const uint8_t* begin, const uint8_t* end)
{
    uint8_t sum = 0;
    for (const uint8_t* p = begin; p != end; ++p)
        sum ^= *p;
    return sum;
}

} // namespace

std::array<uint8_t, KlfHeader::kIdentificationEnd> KlfHeader::identificationPrefix()
{
    std::array<uint8_t, kIdentificationEnd> b{};
    uint8_t* id = b.data() + kLeadingZeros;
    ByteOrder::putle16(id, uint16_t(kIdentifierLength + 2));
    id[2] = kIdentificationType;
    std::copy_n(kIdentifier, kIdentifierLength, id + kRecordBody);
    b[kIdentificationEnd - 1] = xorOf(id + 2, &b[kIdentificationEnd - 1]);
    return b;
}

std::vector<uint8_t> KlfHeader::bytes() const
{
    std::vector<uint8_t> out(kFixedSize, 0);
    out.reserve(kFixedSize + channelInfo.size());
    const auto prefix = identificationPrefix();
    std::copy(prefix.begin(), prefix.end(), out.begin());

    uint8_t* serial = &out[kSerialRecordOffset];
    ByteOrder::putle16(serial, kSerialRecordLength);
    serial[2] = kSerialNumberType;
    const size_t n = std::min<size_t>(kSerialNumberSize, serialNumber.find('\0') == std::string::npos
                                                             ? serialNumber.size()
                                                             : serialNumber.find('\0'));
    std::copy_n(serialNumber.begin(), n, serial + kRecordBody);
    serial[kSerialRecordLength + 1] = xorOf(serial + 2, serial + kSerialRecordLength + 1);

    uint8_t* config = &out[kConfigRecordOffset];
    ByteOrder::putle16(config, kReceiverConfigLength);
    config[2] = kReceiverConfigType;
    config[kConfigFlags] = uint8_t((receiverActive[0] ? 0x01 : 0) | (receiverActive[1] ? 0x02 : 0));
    if (receiverActive[0])
        std::copy_n(settingsBlocks[0].begin(), kSettingsBlockSize, config + kConfigBlocks);
    if (receiverActive[1])
        std::copy_n(settingsBlocks[1].begin(), kSettingsBlockSize - 1, config + kConfigBlocks + kSettingsBlockSize);

    out.insert(out.end(), channelInfo.begin(), channelInfo.end());
    return out;
}

std::optional<KlfHeader::Stored> KlfHeader::read(std::span<const uint8_t, kFixedSize> fixed, Fault& fault)
{
    Stored out;
    const uint8_t* s = fixed.data() + kSerialRecordOffset;
    if (ByteOrder::getleu16(s) != kSerialRecordLength || s[2] != kSerialNumberType
        || xorOf(s + 2, s + kSerialRecordLength + 2) != 0) {
        fault = {kSerialRecordOffset, "bad serial number record"};
        return std::nullopt;
    }
    const char* text = reinterpret_cast<const char*>(s + kRecordBody);
    out.serialNumber.assign(text, strnlen(text, kSerialNumberSize));

    const uint8_t* c = fixed.data() + kConfigRecordOffset;
    if (ByteOrder::getleu16(c) != kReceiverConfigLength || c[2] != kReceiverConfigType) {
        fault = {kConfigRecordOffset, "bad receiver configuration record"};
        return std::nullopt;
    }
    out.receiverFlags = c[kConfigFlags];
    std::copy_n(c + kConfigBlocks, kSettingsBlockSize, out.settingsBlocks[0].begin());
    std::copy_n(c + kConfigBlocks + kSettingsBlockSize, kSettingsBlockSize - 1, out.settingsBlocks[1].begin());
    return out;
}
