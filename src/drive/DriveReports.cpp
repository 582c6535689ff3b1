#include "DriveReports.h"

#include "log/KlfPullReader.h"
#include "protocol/MessageCodec.h"
#include "protocol/MessageType.h"
#include "protocol/SampleBuffers.h"

namespace {

constexpr int kReceivers = 2;

bool bandChanged(const ReceiverSettings& before, const ReceiverSettings& after)
{
    return after.lowEdge() != before.lowEdge() || after.highEdge() != before.highEdge()
           || after.stepRaw() != before.stepRaw() || after.numberingFrom991() != before.numberingFrom991();
}

} // namespace

void DriveReports::header(const KlfPullReader& in)
{
    if (!in.hasHeader())
        return;
    for (int r = 0; r < kReceivers; ++r) {
        m_receivers.active[size_t(r)] = (in.receiverFlags() & (1 << r)) != 0;
        if (m_receivers.active[size_t(r)])
            m_receivers.settings[size_t(r)].storeBlock(in.settingsBlock(r).data());
    }
    const std::vector<uint8_t>& ci = in.channelInfo();
    if (ci.size() >= 4)
        channelInformation(ci[2], std::span<const uint8_t>(ci.data() + 3, ci.size() - 4), 0, nullptr);
}

void DriveReports::settingsReport(int r, uint64_t index, std::vector<Report>& out) const
{
    Report report;
    report.record = index;
    report.receiver = uint8_t(r);
    report.current = m_receivers.settings[size_t(r)].current;
    report.report.kind = SampleReport::Kind::Settings;
    report.report.settings = m_receivers.settings[size_t(r)];
    out.push_back(report);
}

void DriveReports::settingsReports(uint64_t index, std::vector<Report>& out) const
{
    for (int r = 0; r < kReceivers; ++r)
        settingsReport(r, index, out);
}

void DriveReports::channelInformation(uint8_t type, std::span<const uint8_t> payload, uint64_t index,
                                      std::vector<Report>* out)
{
    if (type == Message::CurrentFrequency) {
        if (const auto m = MessageCodec::currentFrequency(payload))
            for (int r = 0; r < kReceivers; ++r)
                m_receivers.settings[size_t(r)].current = m->current[size_t(r)];
    } else if (type == Message::ScanChannelList) {
        if (const auto m = MessageCodec::scanChannelList(payload)) {
            for (int r = 0; r < kReceivers; ++r) {
                ReceiverSettings& s = m_receivers.settings[size_t(r)];
                s.scanChannels = m->channels[size_t(r)];
                s.current = s.scanChannels[0];
                s.scanChannelsKnown = true;
                if (out)
                    settingsReport(r, index, *out);
            }
        }
    }
}

void DriveReports::take(const KlfStream::Record& record, uint64_t index, std::vector<Report>* out)
{
    const std::span<const uint8_t> p = record.payload();
    switch (record.type) {
    case Message::ReceiverSetup: {
        const auto m = MessageCodec::receiverSetup(p);
        if (!m)
            return;
        for (int r = 0; r < kReceivers; ++r) {
            m_receivers.active[size_t(r)] = m->active(r);
            if (!m->active(r))
                continue;
            ReceiverSettings& s = m_receivers.settings[size_t(r)];
            const ReceiverSettings before = s;
            s.storeBlock(m->blocks[size_t(r)].data());
            if (out && bandChanged(before, s))
                settingsReport(r, index, *out);
        }
        return;
    }
    case Message::CurrentFrequency:
    case Message::ScanChannelList: channelInformation(record.type, p, index, out); return;
    default: break;
    }
    if (!out)
        return;

    auto report = [&](int r, SampleReport::Kind kind) -> Report& {
        Report& made = out->emplace_back();
        made.record = index;
        made.receiver = uint8_t(r);
        made.current = m_receivers.settings[size_t(r)].current;
        made.report.kind = kind;
        return made;
    };
    // A report that held nothing for a receiver is not one of its rows.
    auto keepIfAny = [&] {
        if (out->back().report.count == 0)
            out->pop_back();
    };
    switch (record.type) {
    case Message::SingleBlockR1:
    case Message::SingleBlockR2: {
        // An empty block shows the bar graph's floor, as it did live.
        const int8_t mean = int8_t(MessageCodec::singleBlock(p).mean().value_or(SampleBuffers::kNoSignal));
        SampleReport& row = report(MessageCodec::singleBlockReceiver(record.type), SampleReport::Kind::Single).report;
        row.count = 1;
        row.entries[0].dBm = mean;
        break;
    }
    case Message::ScanReport: {
        const auto entries = MessageCodec::scanReport(p);
        if (!entries)
            return;
        for (int r = 0; r < kReceivers; ++r) {
            if (!m_receivers.active[size_t(r)])
                continue;
            SampleReport& row = report(r, SampleReport::Kind::Scan).report;
            for (const MessageCodec::ScanEntry& e : *entries)
                if (e.receiver == r && e.slot < MessageCodec::kScanSlots)
                    row.entries[row.count++] = {uint16_t(e.slot), e.rssi};
            keepIfAny();
        }
        break;
    }
    case Message::TableReport: {
        const auto entries = MessageCodec::tableReport(p);
        if (!entries)
            return;
        for (int r = 0; r < kReceivers; ++r) {
            if (!m_receivers.active[size_t(r)])
                continue;
            SampleReport& row = report(r, SampleReport::Kind::Table).report;
            for (const MessageCodec::TableEntry& e : *entries)
                if (e.receiver() == r && e.index < SampleBuffers::kTableSize)
                    row.entries[row.count++] = {uint16_t(e.index), e.rssi};
            keepIfAny();
        }
        break;
    }
    default: break;
    }
}
