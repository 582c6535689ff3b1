#include "DriveReader.h"

#include "drive/FixDecoder.h"
#include "drive/RoutePlacement.h"
#include "drive/SampleQueue.h"
#include "log/KlfPullReader.h"
#include "protocol/MessageCodec.h"
#include "protocol/ReceiverSettings.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr int kSlots = MessageCodec::kScanSlots;
constexpr int kTableSize = 3072;

// What the log has told so far about one receiver.
struct Receiver
{
    ReceiverSettings settings;
    bool settingsKnown = false;
    bool currentKnown = false;
    bool scanKnown = false;

    // In 32 bits and extended precision: a band high up in channel steps must
    // not wrap the way the 16-bit channel numbers do.
    double mhz(uint32_t value) const
    {
        return double(static_cast<long double>(value) * settings.stepKHz * 0.001L);
    }
};

class Pass
{
public:
    Pass(const DriveFilter& filter, DriveSink& sink, DriveSummary& summary)
        : m_filter(filter), m_sink(sink), m_summary(summary)
    {
    }

    void header(const KlfPullReader& in)
    {
        for (int r = 0; r < 2; ++r) {
            if (in.receiverFlags() & (1 << r)) {
                m_receivers[r].settings.storeBlock(in.settingsBlock(r).data());
                m_receivers[r].settingsKnown = true;
            }
        }
        const std::vector<uint8_t>& ci = in.channelInfo();
        if (ci.size() >= 3)
            channelInformation(ci[2], ci.data() + 3, ci.size() - 4);
    }

    void record(const KlfPullReader::Record& r, uint64_t index)
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

    void finish()
    {
        // After the last used fix nothing can place them.
        m_queue.drain([this](DriveSample& s) { deliver(s); });
    }

private:
    void channelInformation(uint8_t type, const uint8_t* p, size_t n)
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

    void receiverSetup(std::span<const uint8_t> p)
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

    void singleBlock(int r, std::span<const uint8_t> p, uint64_t index)
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

    void scanReport(std::span<const uint8_t> p, uint64_t index)
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

    void tableReport(std::span<const uint8_t> p, uint64_t index)
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

    // A report with fewer readings than entries fills the rest with copies;
    // a copy is the same reading, not a second one.
    template <class Entries>
    static bool repeatsEarlier(const Entries& entries, size_t e)
    {
        for (size_t k = 0; k < e; ++k)
            if (entries[k] == entries[e])
                return true;
        return false;
    }

    void gps(std::span<const uint8_t> p, uint64_t index)
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

    static void place(DriveSample& s, const DriveFix& a, const DriveFix& b)
    {
        const RoutePlacement::Place at = RoutePlacement::place(a, b, s.record);
        s.latitude = at.latitude;
        s.longitude = at.longitude;
        s.timeMs = at.timeMs;
        s.placed = true;
    }

    void take(const DriveSample& s)
    {
        if (!m_filter.matches(s))
            return;
        if (m_haveFix)
            m_queue.push(s);
        else
            deliver(s);
    }

    void deliver(const DriveSample& s)
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

    const DriveFilter& m_filter;
    DriveSink& m_sink;
    DriveSummary& m_summary;
    std::array<Receiver, 2> m_receivers;
    FixDecoder m_fixes;
    DriveFix m_last;
    bool m_haveFix = false;
    SampleQueue m_queue;
};

} // namespace

DriveSummary::Status DriveReader::statusOf(KlfPullReader::Status s)
{
    switch (s) {
    case KlfPullReader::Status::Ok: return DriveSummary::Status::Ok;
    case KlfPullReader::Status::Malformed: return DriveSummary::Status::Malformed;
    case KlfPullReader::Status::Truncated: return DriveSummary::Status::Truncated;
    case KlfPullReader::Status::Unreadable: return DriveSummary::Status::Unreadable;
    }
    return DriveSummary::Status::Malformed;
}

DriveSummary DriveReader::read(const std::string& path, DriveSink& sink) const
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        DriveSummary summary;
        summary.status = DriveSummary::Status::Unreadable;
        summary.error = "cannot open " + path + ": " + std::strerror(errno);
        return summary;
    }
    DriveSummary summary = read(file, sink);
    std::fclose(file);
    return summary;
}

DriveSummary DriveReader::read(std::FILE* file, DriveSink& sink) const
{
    DriveSummary summary;
    struct stat st{};
    if (::fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode)) {
        const long at = std::ftell(file);
        summary.bytes = uint64_t(st.st_size) - uint64_t(at > 0 ? at : 0);
    }

    KlfPullReader in(file);
    Pass pass(m_filter, sink, summary);
    bool cancelled = false;
    if (in.readHeader()) {
        summary.hasHeader = in.hasHeader();
        summary.serialNumber = in.serialNumber();
        summary.receiverFlags = in.receiverFlags();
        pass.header(in);
        KlfPullReader::Record r;
        uint64_t nextProgress = kProgressStep;
        while (in.next(r)) {
            if (r.checksumOk)
                pass.record(r, summary.records);
            ++summary.records;
            if (m_progress && in.offset() >= nextProgress) {
                nextProgress = in.offset() + kProgressStep;
                if (!m_progress(in.offset(), summary.bytes)) {
                    cancelled = true;
                    break;
                }
            }
        }
    }
    summary.hasHeader = in.hasHeader();
    if (!cancelled)
        pass.finish();
    summary.bytesRead = in.offset();
    summary.checksumErrors = in.checksumErrors();
    summary.status = cancelled ? DriveSummary::Status::Cancelled : statusOf(in.status());
    summary.error = in.error();
    summary.stopOffset = in.errorOffset();
    if (m_progress && !cancelled)
        m_progress(in.offset(), summary.bytes);
    return summary;
}
