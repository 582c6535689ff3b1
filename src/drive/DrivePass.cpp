#include "DrivePass.h"

#include "drive/RoutePlacement.h"
#include "protocol/MessageCodec.h"

#include <algorithm>

namespace {

constexpr int kSlots = MessageCodec::kScanSlots;
constexpr int kTableSize = 3072;

// A report with fewer readings than entries fills the rest with copies;
// a copy is the same reading, not a second one.
template <class Entries>
bool repeatsEarlier(const Entries& entries, size_t e)
{
    for (size_t k = 0; k < e; ++k)
        if (entries[k] == entries[e])
            return true;
    return false;
}

void place(DriveSample& s, const DriveFix& a, const DriveFix& b)
{
    const RoutePlacement::Place at = RoutePlacement::place(a, b, s.record);
    s.latitude = at.latitude;
    s.longitude = at.longitude;
    s.timeMs = at.timeMs;
    s.placed = true;
}

} // namespace

DrivePass::DrivePass(const DriveFilter& filter, DriveSink& sink, DriveSummary& summary)
    : m_filter(filter), m_sink(sink), m_summary(summary)
{
}

void DrivePass::header(uint8_t receiverFlags, const std::array<KlfHeader::SettingsBlock, 2>& blocks,
                       const std::vector<uint8_t>& channelInfo)
{
    for (int r = 0; r < 2; ++r) {
        if (receiverFlags & (1 << r)) {
            m_receivers[r].settings.storeBlock(blocks[size_t(r)].data());
            m_receivers[r].settingsKnown = true;
        }
    }
    if (channelInfo.size() >= 3)
        channelInformation(channelInfo[2], channelInfo.data() + 3, channelInfo.size() - 4);
}

void DrivePass::record(const KlfStream::Record& r, uint64_t index)
{
    const std::span<const uint8_t> p = r.payload();
    switch (r.type) {
    case Message::GpsMessage: gps(p, index); break;
    case Message::ReceiverSetup: receiverSetup(p); break;
    case Message::SingleBlockR1:
    case Message::SingleBlockR2: singleBlock(MessageCodec::singleBlockReceiver(r.type), p, index); break;
    case Message::CurrentFrequency:
    case Message::ScanChannelList: channelInformation(r.type, p.data(), p.size()); break;
    case Message::ScanReport: scanReport(p, index); break;
    case Message::TableReport: tableReport(p, index); break;
    default: break;
    }
}

void DrivePass::finish()
{
    // After the last used fix nothing can place them.
    m_queue.drain([this](DriveSample& s) { deliver(s); });
}

void DrivePass::channelInformation(uint8_t type, const uint8_t* p, size_t n)
{
    const std::span<const uint8_t> payload(p, n);
    if (type == Message::CurrentFrequency) {
        if (const auto m = MessageCodec::currentFrequency(payload)) {
            for (int r = 0; r < 2; ++r) {
                m_receivers[r].settings.current = m->current[size_t(r)];
                m_receivers[r].currentKnown = true;
            }
        }
    } else if (type == Message::ScanChannelList) {
        if (const auto m = MessageCodec::scanChannelList(payload)) {
            for (int r = 0; r < 2; ++r) {
                ReceiverSettings& s = m_receivers[r].settings;
                s.scanChannels = m->channels[size_t(r)];
                s.current = s.scanChannels[0];
                m_receivers[r].currentKnown = true;
                m_receivers[r].scanKnown = true;
            }
        }
    }
}

void DrivePass::receiverSetup(std::span<const uint8_t> p)
{
    const auto m = MessageCodec::receiverSetup(p);
    if (!m)
        return;
    // An inactive receiver's block is not read: it keeps its settings.
    for (int r = 0; r < 2; ++r) {
        if (m->active(r)) {
            m_receivers[r].settings.storeBlock(m->blocks[size_t(r)].data());
            m_receivers[r].settingsKnown = true;
        }
    }
}

void DrivePass::singleBlock(int r, std::span<const uint8_t> p, uint64_t index)
{
    // An empty block measured nothing; the program's -120 for it is a fill value.
    const auto mean = MessageCodec::singleBlock(p).mean();
    if (!mean)
        return;
    DriveSample s;
    s.record = index;
    s.receiver = uint8_t(r);
    s.mode = SampleMode::Single;
    s.rssi = *mean;
    const Receiver& rx = m_receivers[r];
    if (rx.settingsKnown && rx.currentKnown) {
        s.channel = rx.settings.channelOf(rx.settings.current);
        s.frequencyMHz = rx.mhz(rx.settings.current);
    }
    take(s);
}

void DrivePass::scanReport(std::span<const uint8_t> p, uint64_t index)
{
    const auto report = MessageCodec::scanReport(p);
    if (!report)
        return;
    for (size_t e = 0; e < report->size(); ++e) {
        const MessageCodec::ScanEntry& entry = (*report)[e];
        if (entry.receiver > 1 || entry.slot >= kSlots || repeatsEarlier(*report, e))
            continue;
        DriveSample s;
        s.record = index;
        s.receiver = entry.receiver;
        s.slot = entry.slot;
        s.mode = SampleMode::Scan;
        s.rssi = entry.rssi;
        const Receiver& rx = m_receivers[entry.receiver];
        if (rx.settingsKnown && rx.scanKnown) {
            const uint32_t value = rx.settings.scanChannels[entry.slot];
            s.channel = rx.settings.channelOf(value);
            s.frequencyMHz = rx.mhz(value);
        }
        take(s);
    }
}

void DrivePass::tableReport(std::span<const uint8_t> p, uint64_t index)
{
    const auto report = MessageCodec::tableReport(p);
    if (!report)
        return;
    for (size_t e = 0; e < report->size(); ++e) {
        const MessageCodec::TableEntry& entry = (*report)[e];
        // 0 dBm is the table's "never received", shown empty by the program.
        if (entry.index >= kTableSize || entry.rssi == 0 || repeatsEarlier(*report, e))
            continue;
        DriveSample s;
        s.record = index;
        s.receiver = uint8_t(entry.receiver());
        s.mode = SampleMode::Table;
        s.rssi = entry.rssi;
        s.channel = entry.index + 1;
        const Receiver& rx = m_receivers[s.receiver];
        if (rx.settingsKnown) {
            const ReceiverSettings& st = rx.settings;
            s.frequencyMHz = rx.mhz(st.valueOfPosition(st.positionOf(int16_t(s.channel))));
        }
        take(s);
    }
}

void DrivePass::gps(std::span<const uint8_t> p, uint64_t index)
{
    const DriveFix f = m_fixes.decode(p, index);
    if (!f.used) {
        ++m_summary.fixesSkipped;
        m_sink.fix(f);
        return;
    }
    ++m_summary.fixesUsed;
    if (m_haveFix) {
        const bool jump = !RoutePlacement::placeable(m_last, f);
        m_queue.drain([this, &f, jump](DriveSample& s) {
            if (jump)
                ++m_summary.samplesAcrossTimeJump;
            else
                place(s, m_last, f);
            deliver(s);
        });
    }
    m_sink.fix(f);
    m_last = f;
    m_haveFix = true;
}

void DrivePass::take(const DriveSample& s)
{
    if (!m_filter.matches(s))
        return;
    if (m_haveFix)
        m_queue.push(s);
    else
        deliver(s);
}

void DrivePass::deliver(const DriveSample& s)
{
    if (s.placed) {
        ++m_summary.samplesPlaced;
        DriveSummary::RssiRange& range = m_summary.receivers[s.receiver];
        if (range.samples++ == 0) {
            range.lowest = range.highest = s.rssi;
        } else {
            range.lowest = std::min(range.lowest, int(s.rssi));
            range.highest = std::max(range.highest, int(s.rssi));
        }
    } else {
        ++m_summary.samplesNotPlaced;
    }
    m_sink.sample(s);
}
