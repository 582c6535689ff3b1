#include "MessageCodec.h"

#include "link/ByteOrder.h"

#include <cstring>

using ByteOrder::getleu16;
using ByteOrder::getleu32;

std::optional<int8_t> MessageCodec::SingleBlock::mean() const
{
    if (samples.empty())
        return std::nullopt;
    int32_t sum = 0; // at most 2045 samples of +-128
    for (uint8_t b : samples)
        sum += int8_t(b);
    return int8_t(sum / int32_t(samples.size())); // truncates toward zero
}

std::optional<std::span<const uint8_t, MessageCodec::kGpsMessageSize>>
MessageCodec::gpsMessage(std::span<const uint8_t> payload)
{
    if (payload.size() < size_t(kGpsMessageSize))
        return std::nullopt;
    return payload.first<kGpsMessageSize>();
}

std::optional<MessageCodec::ReceiverSetup> MessageCodec::receiverSetup(std::span<const uint8_t> payload)
{
    if (payload.size() < size_t(kReceiverSetupSize))
        return std::nullopt;
    ReceiverSetup m;
    m.activeFlags = payload[0];
    for (int r = 0; r < kReceivers; ++r)
        std::memcpy(m.blocks[size_t(r)].data(), payload.data() + 1 + ReceiverSettings::kBlockSize * r,
                    ReceiverSettings::kBlockSize);
    return m;
}

MessageCodec::SingleBlock MessageCodec::singleBlock(std::span<const uint8_t> payload)
{
    return SingleBlock{payload};
}

std::optional<MessageCodec::ClockMarker> MessageCodec::clockMarker(std::span<const uint8_t> payload)
{
    if (payload.size() < size_t(kClockMarkerSize))
        return std::nullopt;
    ClockMarker m;
    std::memcpy(m.fields.data(), payload.data(), kClockMarkerSize);
    return m;
}

std::optional<MessageCodec::CurrentFrequency> MessageCodec::currentFrequency(std::span<const uint8_t> payload)
{
    if (payload.size() < size_t(kCurrentFrequencySize))
        return std::nullopt;
    CurrentFrequency m;
    for (int r = 0; r < kReceivers; ++r)
        m.current[size_t(r)] = getleu32(payload.data() + 4 * r);
    return m;
}

std::optional<MessageCodec::ScanChannelList> MessageCodec::scanChannelList(std::span<const uint8_t> payload)
{
    if (payload.size() < size_t(kScanChannelListSize))
        return std::nullopt;
    ScanChannelList m;
    for (int r = 0; r < kReceivers; ++r)
        for (int slot = 0; slot < kScanSlots; ++slot)
            m.channels[size_t(r)][size_t(slot)] = getleu32(payload.data() + 4 * (kScanSlots * r + slot));
    return m;
}

std::optional<MessageCodec::ScanReport> MessageCodec::scanReport(std::span<const uint8_t> payload)
{
    if (payload.size() < size_t(kScanReportSize))
        return std::nullopt;
    ScanReport m;
    for (int e = 0; e < kScanEntries; ++e) {
        const uint8_t* p = payload.data() + 3 * e;
        m[size_t(e)] = {p[0], p[1], int8_t(p[2])};
    }
    return m;
}

std::optional<MessageCodec::TableReport> MessageCodec::tableReport(std::span<const uint8_t> payload)
{
    if (payload.size() < size_t(kTableReportSize))
        return std::nullopt;
    TableReport m;
    for (int e = 0; e < kTableEntries; ++e) {
        const uint8_t* p = payload.data() + 4 * e;
        m[size_t(e)] = {p[0], getleu16(p + 1), int8_t(p[3])};
    }
    return m;
}

std::optional<std::string> MessageCodec::serialNumber(std::span<const uint8_t> payload)
{
    if (payload.size() < size_t(kSerialNumberSize))
        return std::nullopt;
    std::string text;
    for (int i = 0; i < kSerialNumberSize && payload[size_t(i)] != 0; ++i)
        text += char(payload[size_t(i)]);
    return text;
}

int MessageCodec::singleBlockReceiver(uint8_t type)
{
    return type == Message::SingleBlockR1 ? 0 : type == Message::SingleBlockR2 ? 1 : -1;
}

// L counts type and checksum: payload + 2.
FrameLengths MessageCodec::frameLengths()
{
    FrameLengths lengths;
    for (int type = 0; type < 256; ++type)
        lengths.setMax(uint8_t(type), kShortMessageMaxLength);
    // A frame whose type byte is the sync byte is, far more often than not,
    // a false sync read with the real frame's sync as its type.
    lengths.setMax(0xAA, 0);
    lengths.setMax(Message::GpsMessage, kShortMessageMaxLength);
    lengths.setMax(Message::ReceiverSetup, kReceiverSetupSize + 2);
    lengths.setMax(Message::SingleBlockR1, FrameLengths::kMaxLength);
    lengths.setMax(Message::SingleBlockR2, FrameLengths::kMaxLength);
    lengths.setMax(Message::ClockMarker, kClockMarkerSize + 2);
    lengths.setMax(Message::CurrentFrequency, kCurrentFrequencySize + 2);
    lengths.setMax(Message::ScanChannelList, kScanChannelListSize + 2);
    lengths.setMax(Message::ScanReport, kScanReportSize + 2);
    lengths.setMax(Message::TableReport, kTableReportSize + 2);
    lengths.setMax(Message::SerialNumber, kSerialNumberSize + 2);
    return lengths;
}
