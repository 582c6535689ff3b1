#include "Decoder.h"

#include "gps/GpsRecord.h"
#include "gps/TGPS.h"
#include "link/PacketFramer.h"
#include "protocol/MeasurementState.h"

#include <cstring>

namespace {

// Payload sizes the fixed-size messages carry.
constexpr int kReceiverSetupSize = 1 + 2 * ReceiverSettings::kBlockSize;
constexpr int kClockMarkerSize = 7;
constexpr int kCurrentFrequencySize = 8;
constexpr int kScanChannelListSize = 2 * MeasurementState::kScanSlots * 4;
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

uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

} // namespace

Decoder::Decoder(MeasurementState& state, GpsRecord& gps, SendFn send)
    : m_state(state)
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
            m_state.channelInfoPresent = 1;
        } else if (type == TableReport) {
            m_state.channelInfoPresent = 1;
        }
        if (Message::isMeasurement(type) && m_state.channelInfoPresent == 0)
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
    m_state.gpsEvent.set();
    return true;
}

bool Decoder::onReceiverSetup(const uint8_t* payload, int size)
{
    if (size < kReceiverSetupSize)
        return false;
    const bool active[MeasurementState::kReceivers] = {(payload[0] & 0x01) != 0, (payload[0] & 0x02) != 0};
    // The blocks are stored before any flag is raised, so a display that sees
    // settingsChanged builds its title from the new settings, not the old.
    bool bandChanged[MeasurementState::kReceivers] = {false, false};
    {
        std::lock_guard guard(m_state.lock);
        for (int r = 0; r < MeasurementState::kReceivers; ++r) {
            if (!active[r])
                continue;
            ReceiverSettings& settings = *m_state.receiverSettings[r];
            const ReceiverSettings before = settings;
            settings.storeBlock(payload + 1 + ReceiverSettings::kBlockSize * r);
            bandChanged[r] = settings.lowEdge() != before.lowEdge() || settings.highEdge() != before.highEdge()
                || settings.stepRaw() != before.stepRaw()
                || settings.numberingFrom991() != before.numberingFrom991();
        }
    }
    // Table levels of the old band would rank under the new band's labels.
    for (int r = 0; r < MeasurementState::kReceivers; ++r) {
        if (!bandChanged[r])
            continue;
        std::lock_guard guard(m_state.sampleLocks[r]);
        m_state.clearTable(r);
    }
    for (int r = 0; r < MeasurementState::kReceivers; ++r) {
        m_state.receiverActive[r] = active[r] ? 1 : 0;
        if (active[r])
            m_state.settingsChanged[r] = 1;
    }
    m_state.settingsReceived = 1;
    ++m_state.settingsReplies;
    return true;
}

bool Decoder::onSingleBlock(int r, const uint8_t* payload, int size)
{
    pressModeButton(DecoderWindow::Mode::Single);
    int16_t average = MeasurementState::kNoSignal;
    if (size > 0) {
        int32_t sum = 0; // at most 2045 samples of +-128
        for (int i = 0; i < size; ++i)
            sum += int8_t(payload[i]);
        average = int16_t(sum / size); // truncates toward zero
    }
    {
        std::lock_guard guard(m_state.sampleLocks[r]);
        m_state.singleAverage[r] = average;
    }
    // Published last: the timer turns it into the display's event.
    m_state.newSamples[r] = 1;
    return true;
}

bool Decoder::onClockMarker(const uint8_t* payload, int size)
{
    if (size < kClockMarkerSize)
        return false;
    {
        std::lock_guard guard(m_state.lock);
        std::memcpy(m_state.rtc, payload, kClockMarkerSize);
    }
    m_state.markerNumber = payload[6];
    m_state.rtcEvent.set();
    return true;
}

bool Decoder::onCurrentFrequency(const uint8_t* payload, int size)
{
    if (size < kCurrentFrequencySize)
        return false;
    std::lock_guard guard(m_state.lock);
    m_state.receiverSettings[0]->current = le32(payload);
    m_state.receiverSettings[1]->current = le32(payload + 4);
    return true;
}

bool Decoder::onScanChannelList(const uint8_t* payload, int size)
{
    if (size < kScanChannelListSize)
        return false;
    for (int r = 0; r < MeasurementState::kReceivers; ++r) {
        {
            std::lock_guard guard(m_state.lock);
            ReceiverSettings& settings = *m_state.receiverSettings[r];
            for (int slot = 0; slot < MeasurementState::kScanSlots; ++slot)
                settings.scanChannels[slot] = le32(payload + 4 * (MeasurementState::kScanSlots * r + slot));
            settings.current = settings.scanChannels[0];
            settings.scanChannelsKnown = true;
        }
        m_state.resetScanRssi(r);
    }
    return true;
}

bool Decoder::onScanReport(const uint8_t* payload, int size)
{
    if (size < kScanEntries * kScanEntrySize)
        return false;
    pressModeButton(DecoderWindow::Mode::Scan);
    for (int r = 0; r < MeasurementState::kReceivers; ++r) {
        if (m_state.receiverActive[r] == 0)
            continue;
        std::lock_guard guard(m_state.sampleLocks[r]);
        bool stored = false;
        for (int e = 0; e < kScanEntries; ++e) {
            const uint8_t* entry = payload + kScanEntrySize * e;
            const int slot = entry[1];
            // Entries naming no receiver or slot the state holds are noise.
            if (entry[0] != r || slot >= MeasurementState::kScanSlots)
                continue;
            m_state.scanRssi[r][slot] = int8_t(entry[2]);
            stored = true;
        }
        if (stored)
            m_state.receiverEvents[r].set();
    }
    return true;
}

bool Decoder::onTableReport(const uint8_t* payload, int size)
{
    if (size < kTableEntries * kTableEntrySize)
        return false;
    pressModeButton(DecoderWindow::Mode::Table);
    for (int r = 0; r < MeasurementState::kReceivers; ++r) {
        if (m_state.receiverActive[r] == 0)
            continue;
        std::lock_guard guard(m_state.sampleLocks[r]);
        bool stored = false;
        for (int e = 0; e < kTableEntries; ++e) {
            const uint8_t* entry = payload + kTableEntrySize * e;
            // Any receiver byte but 0 means receiver 1.
            const int receiver = entry[0] == 0 ? 0 : 1;
            const int index = le16(entry + 1);
            if (receiver != r || index >= MeasurementState::kTableSize)
                continue;
            m_state.tableRssi[r][index] = int8_t(entry[3]);
            stored = true;
        }
        if (stored)
            m_state.receiverEvents[r].set();
    }
    return true;
}

bool Decoder::onSerialNumber(const uint8_t* payload, int size)
{
    if (size < kSerialNumberSize)
        return false;
    {
        std::lock_guard guard(m_state.lock);
        std::memset(m_state.serialNumber, 0, sizeof m_state.serialNumber);
        for (int i = 0; i < kSerialNumberSize && payload[i] != 0; ++i)
            m_state.serialNumber[i] = char(payload[i]);
    }
    requestSettings();
    return true;
}

void Decoder::storeChannelInfo(const PacketRecord& packet)
{
    // The log header needs the packet from its length field on, as received.
    const int count = packet.fromLengthCount();
    std::lock_guard guard(m_state.lock);
    RecordSlot& slot = m_state.channelInfoRecord;
    slot.count = uint16_t(count);
    std::memcpy(slot.bytes.data(), packet.fromLength(), count);
    std::memset(slot.bytes.data() + count, 0, slot.bytes.size() - count);
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
