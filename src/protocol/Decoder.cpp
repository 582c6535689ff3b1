#include "Decoder.h"

#include "gps/GpsRecord.h"
#include "gps/TGPS.h"
#include "link/PacketFramer.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <chrono>
#include <cstring>

namespace {

// Payload sizes the fixed-size messages carry.
constexpr int kReceiverSetupSize = 1 + 2 * ReceiverSettings::kBlockSize;
constexpr int kClockMarkerSize = 7;
constexpr int kCurrentFrequencySize = 8;
constexpr int kScanChannelListSize = 2 * SampleBuffers::kScanSlots * 4;
constexpr int kScanEntries = 5;
constexpr int kScanEntrySize = 3;
constexpr int kTableEntries = 4;
constexpr int kTableEntrySize = 4;
constexpr int kSerialNumberSize = 8;

// The longest packet the framer passes on; anything longer cannot have come
// from the device and would reach past the record.
constexpr int kMaxLength = PacketFramer::kMaxLength;

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

int64_t utcNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

SampleReport settingsReport(const ReceiverSettings& settings)
{
    SampleReport report;
    report.kind = SampleReport::Kind::Settings;
    report.utcMs = utcNowMs();
    report.settings = settings;
    return report;
}

uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

} // namespace

Decoder::Decoder(DeviceRecord& device, SampleBuffers& samples, GpsRecord& gps, SendFn send)
    : m_device(device)
    , m_samples(samples)
    , m_gps(gps)
    , m_send(std::move(send))
{
}

void Decoder::setWindow(DecoderWindow* window)
{
    m_window.store(window);
}

void Decoder::setLoggingHandOff(HandOffFn handOff)
{
    auto fn = handOff ? std::make_shared<const HandOffFn>(std::move(handOff)) : nullptr;
    std::lock_guard guard(m_handOffLock);
    m_handOff = std::move(fn);
}

void Decoder::decodePacket(const PacketRecord& packet)
{
    const int length = packet.length();
    if (length > kMaxLength)
        return;

    // A packet too short for its message (L below 2, or a fixed-size payload
    // cut short) is not decoded: its payload bytes beyond L are left over from
    // earlier packets. It takes no part in the channel-information
    // bookkeeping, but it is still logged as it came.
    const uint8_t type = packet.type();
    bool decoded = false;
    if (length >= 2) {
        const uint8_t* payload = packet.payload();
        const int size = length - 2;
        switch (type) {
        case GpsMessage: decoded = onGpsMessage(payload, size); break;
        case ReceiverSetup: decoded = onReceiverSetup(payload, size); break;
        case SingleBlockR1: decoded = onSingleBlock(0, payload, size); break;
        case SingleBlockR2: decoded = onSingleBlock(1, payload, size); break;
        case ClockMarker: decoded = onClockMarker(payload, size); break;
        case CurrentFrequency: decoded = onCurrentFrequency(payload, size); break;
        case ScanChannelList: decoded = onScanChannelList(payload, size); break;
        case ScanReport: decoded = onScanReport(payload, size); break;
        case TableReport: decoded = onTableReport(payload, size); break;
        case SerialNumber: decoded = onSerialNumber(payload, size); break;
        default: break;
        }
    }

    if (decoded) {
        if (type == CurrentFrequency || type == ScanChannelList) {
            storeChannelInfo(packet);
            m_device.channelInfoPresent = 1;
        } else if (type == TableReport) {
            m_device.channelInfoPresent = 1;
        }
        if (Message::isMeasurement(type) && m_device.channelInfoPresent == 0)
            requestChannelInfo();
    }

    std::shared_ptr<const HandOffFn> handOff;
    {
        std::lock_guard guard(m_handOffLock);
        handOff = m_handOff;
    }
    if (handOff)
        (*handOff)(packet);
    m_packetsDecoded.fetch_add(1, std::memory_order_release);
}

bool Decoder::onGpsMessage(const uint8_t* payload, int size)
{
    if (size < TGPS::kMessageSize)
        return false;
    m_gps.Decode(payload);
    m_gps.gpsEvent.set();
    return true;
}

bool Decoder::onReceiverSetup(const uint8_t* payload, int size)
{
    if (size < kReceiverSetupSize)
        return false;
    const std::array<bool, DeviceRecord::kReceivers> active = {(payload[0] & 0x01) != 0, (payload[0] & 0x02) != 0};
    // The blocks are stored before the settings are counted, so a display
    // that sees a new generation builds its title from the new settings.
    bool bandChanged[DeviceRecord::kReceivers] = {false, false};
    m_device.edit([&](DeviceRecord::Data& d) {
        for (int r = 0; r < DeviceRecord::kReceivers; ++r) {
            d.receiverActive[r] = active[r];
            if (!active[r])
                continue;
            ReceiverSettings& settings = d.receiverSettings[r];
            const ReceiverSettings before = settings;
            settings.storeBlock(payload + 1 + ReceiverSettings::kBlockSize * r);
            bandChanged[r] = settings.lowEdge() != before.lowEdge() || settings.highEdge() != before.highEdge()
                || settings.stepRaw() != before.stepRaw()
                || settings.numberingFrom991() != before.numberingFrom991();
        }
    });
    // Table levels of the old band would rank under the new band's labels.
    for (int r = 0; r < DeviceRecord::kReceivers; ++r) {
        if (!bandChanged[r])
            continue;
        {
            std::lock_guard guard(m_samples.sampleLocks[r]);
            m_samples.clearTable(r);
        }
        m_samples.reports[r].push(settingsReport(m_device.settingsCopy(r)));
    }
    m_device.settingsStored(active);
    return true;
}

bool Decoder::onSingleBlock(int r, const uint8_t* payload, int size)
{
    pressModeButton(DecoderWindow::Mode::Single);
    int16_t average = SampleBuffers::kNoSignal;
    if (size > 0) {
        int32_t sum = 0; // at most 2045 samples of +-128
        for (int i = 0; i < size; ++i)
            sum += int8_t(payload[i]);
        average = int16_t(sum / size); // truncates toward zero
    }
    {
        std::lock_guard guard(m_samples.sampleLocks[r]);
        m_samples.singleAverage[r] = average;
    }
    SampleReport report;
    report.kind = SampleReport::Kind::Single;
    report.utcMs = utcNowMs();
    report.count = 1;
    report.entries[0].dBm = int8_t(average);
    m_samples.reports[r].push(report);
    // Published last: the timer turns it into the display's event.
    m_samples.newSamples[r] = 1;
    return true;
}

bool Decoder::onClockMarker(const uint8_t* payload, int size)
{
    if (size < kClockMarkerSize)
        return false;
    m_device.edit([&](DeviceRecord::Data& d) { std::memcpy(d.rtc, payload, kClockMarkerSize); });
    m_device.rtcEvent.set();
    return true;
}

bool Decoder::onCurrentFrequency(const uint8_t* payload, int size)
{
    if (size < kCurrentFrequencySize)
        return false;
    m_device.edit([&](DeviceRecord::Data& d) {
        d.receiverSettings[0].current = le32(payload);
        d.receiverSettings[1].current = le32(payload + 4);
    });
    return true;
}

bool Decoder::onScanChannelList(const uint8_t* payload, int size)
{
    if (size < kScanChannelListSize)
        return false;
    for (int r = 0; r < DeviceRecord::kReceivers; ++r) {
        m_device.edit([&](DeviceRecord::Data& d) {
            ReceiverSettings& settings = d.receiverSettings[r];
            for (int slot = 0; slot < SampleBuffers::kScanSlots; ++slot)
                settings.scanChannels[slot] = le32(payload + 4 * (SampleBuffers::kScanSlots * r + slot));
            settings.current = settings.scanChannels[0];
            settings.scanChannelsKnown = true;
        });
        m_samples.resetScanRssi(r);
        m_samples.reports[r].push(settingsReport(m_device.settingsCopy(r)));
    }
    return true;
}

bool Decoder::onScanReport(const uint8_t* payload, int size)
{
    if (size < kScanEntries * kScanEntrySize)
        return false;
    pressModeButton(DecoderWindow::Mode::Scan);
    for (int r = 0; r < SampleBuffers::kReceivers; ++r) {
        if (!m_device.receiverActive(r))
            continue;
        std::lock_guard guard(m_samples.sampleLocks[r]);
        bool stored = false;
        SampleReport report;
        report.kind = SampleReport::Kind::Scan;
        for (int e = 0; e < kScanEntries; ++e) {
            const uint8_t* entry = payload + kScanEntrySize * e;
            const int slot = entry[1];
            // Entries naming no receiver or slot the state holds are noise.
            if (entry[0] != r || slot >= SampleBuffers::kScanSlots)
                continue;
            m_samples.scanRssi[r][slot] = int8_t(entry[2]);
            report.entries[report.count++] = {uint16_t(slot), int8_t(entry[2])};
            stored = true;
        }
        if (stored) {
            report.utcMs = utcNowMs();
            m_samples.reports[r].push(report);
            m_samples.receiverEvents[r].set();
        }
    }
    return true;
}

bool Decoder::onTableReport(const uint8_t* payload, int size)
{
    if (size < kTableEntries * kTableEntrySize)
        return false;
    pressModeButton(DecoderWindow::Mode::Table);
    for (int r = 0; r < SampleBuffers::kReceivers; ++r) {
        if (!m_device.receiverActive(r))
            continue;
        std::lock_guard guard(m_samples.sampleLocks[r]);
        bool stored = false;
        SampleReport report;
        report.kind = SampleReport::Kind::Table;
        for (int e = 0; e < kTableEntries; ++e) {
            const uint8_t* entry = payload + kTableEntrySize * e;
            // Any receiver byte but 0 means receiver 1.
            const int receiver = entry[0] == 0 ? 0 : 1;
            const int index = le16(entry + 1);
            if (receiver != r || index >= SampleBuffers::kTableSize)
                continue;
            m_samples.tableRssi[r][index] = int8_t(entry[3]);
            report.entries[report.count++] = {uint16_t(index), int8_t(entry[3])};
            stored = true;
        }
        if (stored) {
            report.utcMs = utcNowMs();
            m_samples.reports[r].push(report);
            m_samples.receiverEvents[r].set();
        }
    }
    return true;
}

bool Decoder::onSerialNumber(const uint8_t* payload, int size)
{
    if (size < kSerialNumberSize)
        return false;
    m_device.edit([&](DeviceRecord::Data& d) {
        std::memset(d.serialNumber, 0, sizeof d.serialNumber);
        for (int i = 0; i < kSerialNumberSize && payload[i] != 0; ++i)
            d.serialNumber[i] = char(payload[i]);
    });
    requestSettings();
    return true;
}

void Decoder::storeChannelInfo(const PacketRecord& packet)
{
    // The log header needs the packet from its length field on, as received.
    const int count = packet.fromLengthCount();
    m_device.edit([&](DeviceRecord::Data& d) {
        RecordSlot& slot = d.channelInfoRecord;
        slot.count = uint16_t(count);
        std::memcpy(slot.bytes.data(), packet.fromLength(), count);
        std::memset(slot.bytes.data() + count, 0, slot.bytes.size() - count);
    });
}

void Decoder::pressModeButton(DecoderWindow::Mode mode)
{
    if (DecoderWindow* window = m_window.load())
        window->pressModeButton(mode);
}

void Decoder::sendCommand(uint8_t type)
{
    if (m_send)
        m_send(buildFrame(type, nullptr, 0));
}

void Decoder::requestSerialNumber() { sendCommand(SerialNumberRequest); }
void Decoder::requestSettings() { sendCommand(SettingsRequest); }
void Decoder::requestChannelInfo() { sendCommand(ChannelInfoRequest); }
