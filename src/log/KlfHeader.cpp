#include "KlfHeader.h"

#include <algorithm>

namespace {

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
    b[6] = uint8_t(kIdentifierLength + 2);
    b[7] = 0;
    b[8] = kIdentificationType;
    std::copy_n(kIdentifier, kIdentifierLength, b.begin() + 9);
    b[22] = xorOf(&b[8], &b[22]);
    return b;
}

std::vector<uint8_t> KlfHeader::bytes() const
{
    std::vector<uint8_t> out(kFixedSize, 0);
    out.reserve(kFixedSize + channelInfo.size());
    const auto prefix = identificationPrefix();
    std::copy(prefix.begin(), prefix.end(), out.begin());

    uint8_t* serial = &out[kSerialRecordOffset];
    serial[0] = 11;
    serial[1] = 0;
    serial[2] = kSerialNumberType;
    const size_t n = std::min<size_t>(8, serialNumber.find('\0') == std::string::npos
                                             ? serialNumber.size()
                                             : serialNumber.find('\0'));
    std::copy_n(serialNumber.begin(), n, serial + 3);
    serial[12] = xorOf(serial + 2, serial + 12);

    uint8_t* config = &out[kConfigRecordOffset];
    config[0] = uint8_t(kReceiverConfigLength & 0xFF);
    config[1] = uint8_t(kReceiverConfigLength >> 8);
    config[2] = kReceiverConfigType;
    config[3] = uint8_t((receiverActive[0] ? 0x01 : 0) | (receiverActive[1] ? 0x02 : 0));
    if (receiverActive[0])
        std::copy_n(settingsBlocks[0].begin(), kSettingsBlockSize, config + 4);
    if (receiverActive[1])
        std::copy_n(settingsBlocks[1].begin(), kSettingsBlockSize - 1, config + 4 + kSettingsBlockSize);

    out.insert(out.end(), channelInfo.begin(), channelInfo.end());
    return out;
}
