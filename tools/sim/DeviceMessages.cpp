#include "DeviceMessages.h"

#include "MessageTypes.h"
#include "SimBytes.h"

#include <algorithm>
#include <vector>

namespace {

using SimBytes::appendLe16;
using SimBytes::appendLe32;

void putBand(std::vector<uint8_t>& out, const BandSettings& band)
{
    appendLe32(out, band.lowEdge);
    appendLe32(out, band.highEdge);
    appendLe16(out, band.stepRaw);
    out.push_back(band.numbering991 ? 0x01 : 0x00);
    out.push_back(0x00); // spare
}

} // namespace

SimFrame DeviceMessages::receiverSetup(uint8_t activeFlags, const BandSettings& r1, const BandSettings& r2)
{
    std::vector<uint8_t> p;
    p.push_back(activeFlags);
    putBand(p, r1);
    putBand(p, r2);
    return FrameEncoder::encode(sim::ReceiverSetup, p);
}

SimFrame DeviceMessages::singleBlock(int receiver, std::span<const int8_t> samples)
{
    std::vector<uint8_t> p(samples.begin(), samples.end());
    return FrameEncoder::encode(receiver == 0 ? sim::SingleBlockR1 : sim::SingleBlockR2, p);
}

SimFrame DeviceMessages::clockMarker(const DeviceClock& c)
{
    const uint8_t p[7] = {c.seconds, c.minutes, c.hours, c.day, c.month, uint8_t(c.year - 2000), c.marker};
    return FrameEncoder::encode(sim::ClockMarker, p);
}

SimFrame DeviceMessages::currentFrequency(uint32_t r1, uint32_t r2)
{
    std::vector<uint8_t> p;
    appendLe32(p, r1);
    appendLe32(p, r2);
    return FrameEncoder::encode(sim::CurrentFrequency, p);
}

SimFrame DeviceMessages::scanChannelList(const std::array<uint32_t, 10>& r1, const std::array<uint32_t, 10>& r2)
{
    std::vector<uint8_t> p;
    for (uint32_t v : r1)
        appendLe32(p, v);
    for (uint32_t v : r2)
        appendLe32(p, v);
    return FrameEncoder::encode(sim::ScanChannelList, p);
}

SimFrame DeviceMessages::scanReport(std::span<const ScanEntry> entries)
{
    std::vector<uint8_t> p;
    for (std::size_t i = 0; i < kScanEntries; ++i) {
        const ScanEntry e = entries.empty() ? ScanEntry{0xFF, 0xFF, -120}
                                            : entries[std::min(i, entries.size() - 1)];
        p.push_back(e.receiver);
        p.push_back(e.slot);
        p.push_back(uint8_t(e.rssi));
    }
    return FrameEncoder::encode(sim::ScanReport, p);
}

SimFrame DeviceMessages::tableReport(std::span<const TableEntry> entries)
{
    std::vector<uint8_t> p;
    for (std::size_t i = 0; i < kTableEntries; ++i) {
        const TableEntry e = entries.empty() ? TableEntry{0, 0, 0} : entries[std::min(i, entries.size() - 1)];
        p.push_back(e.receiver);
        appendLe16(p, e.index);
        p.push_back(uint8_t(e.rssi));
    }
    return FrameEncoder::encode(sim::TableReport, p);
}

SimFrame DeviceMessages::serialNumber(std::string_view text)
{
    std::vector<uint8_t> p(kSerialLength, 0);
    for (std::size_t i = 0; i < text.size() && i < kSerialLength; ++i)
        p[i] = uint8_t(text[i]);
    return FrameEncoder::encode(sim::SerialNumber, p);
}

SimFrame DeviceMessages::gpsMessage(const std::array<uint8_t, kGpsLength>& message)
{
    return FrameEncoder::encode(sim::GpsMessage, message);
}

std::string DeviceMessages::typeName(uint8_t type)
{
    switch (type) {
    case sim::GpsMessage: return "GpsMessage";
    case sim::ReceiverSetup: return "ReceiverSetup";
    case sim::SingleBlockR1: return "SingleBlockR1";
    case sim::SingleBlockR2: return "SingleBlockR2";
    case sim::ClockMarker: return "ClockMarker";
    case sim::CurrentFrequency: return "CurrentFrequency";
    case sim::ScanChannelList: return "ScanChannelList";
    case sim::ScanReport: return "ScanReport";
    case sim::TableReport: return "TableReport";
    case sim::SerialNumber: return "SerialNumber";
    default: return "Type" + std::to_string(type);
    }
}

std::string DeviceMessages::commandName(uint8_t type)
{
    switch (type) {
    case sim::SettingsRequest: return "SettingsRequest";
    case sim::SerialNumberRequest: return "SerialNumberRequest";
    case sim::ChannelInfoRequest: return "ChannelInfoRequest";
    default: return "Command" + std::to_string(type);
    }
}
