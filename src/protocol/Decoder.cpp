#include "Decoder.h"

#include "link/PacketFramer.h"
#include "protocol/DeviceRecord.h"
#include "protocol/GpsRecord.h"
#include "protocol/MessageCodec.h"
#include "protocol/SampleBuffers.h"

#include <chrono>
#include <cstring>

namespace {

// The longest packet the framer passes on; anything longer cannot have come
// from the device and would reach past the record.
constexpr int kMaxLength = PacketFramer::kMaxLength;

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
        const Payload payload(packet.payload(), size_t(length - 2));
        switch (type) {
        case GpsMessage: decoded = onGpsMessage(payload); break;
        case ReceiverSetup: decoded = onReceiverSetup(payload); break;
        case SingleBlockR1: decoded = onSingleBlock(0, payload); break;
        case SingleBlockR2: decoded = onSingleBlock(1, payload); break;
        case ClockMarker: decoded = onClockMarker(payload); break;
        case CurrentFrequency: decoded = onCurrentFrequency(payload); break;
        case ScanChannelList: decoded = onScanChannelList(payload); break;
        case ScanReport: decoded = onScanReport(payload); break;
        case TableReport: decoded = onTableReport(payload); break;
        case SerialNumber: decoded = onSerialNumber(payload); break;
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

bool Decoder::onGpsMessage(Payload payload)
{
    const auto message = MessageCodec::gpsMessage(payload);
    if (!message)
        return false;
    m_gps.Decode(message->data());
    m_gps.gpsEvent.set();
    return true;
}

bool Decoder::onReceiverSetup(Payload payload)
{
    const auto setup = MessageCodec::receiverSetup(payload);
    if (!setup)
        return false;
    const std::array<bool, DeviceRecord::kReceivers> active = {setup->active(0), setup->active(1)};
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
            settings.storeBlock(setup->blocks[size_t(r)].data());
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

bool Decoder::onSingleBlock(int r, Payload payload)
{
    pressModeButton(DecoderWindow::Mode::Single);
    const int16_t average = MessageCodec::singleBlock(payload).mean().value_or(SampleBuffers::kNoSignal);
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

bool Decoder::onClockMarker(Payload payload)
{
    const auto clock = MessageCodec::clockMarker(payload);
    if (!clock)
        return false;
    static_assert(sizeof DeviceRecord::Data::rtc == sizeof clock->fields);
    m_device.edit([&](DeviceRecord::Data& d) { std::memcpy(d.rtc, clock->fields.data(), sizeof d.rtc); });
    m_device.rtcEvent.set();
    return true;
}

bool Decoder::onCurrentFrequency(Payload payload)
{
    const auto frequency = MessageCodec::currentFrequency(payload);
    if (!frequency)
        return false;
    m_device.edit([&](DeviceRecord::Data& d) {
        for (int r = 0; r < DeviceRecord::kReceivers; ++r)
            d.receiverSettings[r].current = frequency->current[size_t(r)];
    });
    return true;
}

bool Decoder::onScanChannelList(Payload payload)
{
    const auto list = MessageCodec::scanChannelList(payload);
    if (!list)
        return false;
    for (int r = 0; r < DeviceRecord::kReceivers; ++r) {
        m_device.edit([&](DeviceRecord::Data& d) {
            ReceiverSettings& settings = d.receiverSettings[r];
            for (int slot = 0; slot < SampleBuffers::kScanSlots; ++slot)
                settings.scanChannels[slot] = list->channels[size_t(r)][size_t(slot)];
            settings.current = settings.scanChannels[0];
            settings.scanChannelsKnown = true;
        });
        m_samples.resetScanRssi(r);
        m_samples.reports[r].push(settingsReport(m_device.settingsCopy(r)));
    }
    return true;
}

bool Decoder::onScanReport(Payload payload)
{
    const auto report = MessageCodec::scanReport(payload);
    if (!report)
        return false;
    pressModeButton(DecoderWindow::Mode::Scan);
    for (int r = 0; r < SampleBuffers::kReceivers; ++r) {
        if (!m_device.receiverActive(r))
            continue;
        std::lock_guard guard(m_samples.sampleLocks[r]);
        SampleReport row;
        row.kind = SampleReport::Kind::Scan;
        for (const MessageCodec::ScanEntry& entry : *report) {
            // Entries naming no receiver or slot the state holds are noise.
            if (entry.receiver != r || entry.slot >= SampleBuffers::kScanSlots)
                continue;
            m_samples.scanRssi[r][entry.slot] = entry.rssi;
            row.entries[row.count++] = {uint16_t(entry.slot), entry.rssi};
        }
        publish(r, row);
    }
    return true;
}

static_assert(SampleReport::kMaxEntries >= MessageCodec::kScanEntries
              && SampleReport::kMaxEntries >= MessageCodec::kTableEntries, "a report's entries fit its row");

// A report that reached the receiver goes to its history and wakes its
// display; one that held nothing for it does neither.
void Decoder::publish(int r, SampleReport& row)
{
    if (row.count == 0)
        return;
    row.utcMs = utcNowMs();
    m_samples.reports[r].push(row);
    m_samples.receiverEvents[r].set();
}

bool Decoder::onTableReport(Payload payload)
{
    const auto report = MessageCodec::tableReport(payload);
    if (!report)
        return false;
    pressModeButton(DecoderWindow::Mode::Table);
    for (int r = 0; r < SampleBuffers::kReceivers; ++r) {
        if (!m_device.receiverActive(r))
            continue;
        std::lock_guard guard(m_samples.sampleLocks[r]);
        SampleReport row;
        row.kind = SampleReport::Kind::Table;
        for (const MessageCodec::TableEntry& entry : *report) {
            if (entry.receiver() != r || entry.index >= SampleBuffers::kTableSize)
                continue;
            m_samples.tableRssi[r][entry.index] = entry.rssi;
            row.entries[row.count++] = {uint16_t(entry.index), entry.rssi};
        }
        publish(r, row);
    }
    return true;
}

bool Decoder::onSerialNumber(Payload payload)
{
    const auto serial = MessageCodec::serialNumber(payload);
    if (!serial)
        return false;
    m_device.edit([&](DeviceRecord::Data& d) {
        std::memset(d.serialNumber, 0, sizeof d.serialNumber);
        std::memcpy(d.serialNumber, serial->data(), serial->size());
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
