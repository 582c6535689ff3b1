#include "DriveReader.h"

#include "drive/KlfFileReader.h"
#include "drive/SampleQueue.h"
#include "drive/UtcTime.h"
#include "gps/TGPS.h"
#include "protocol/ReceiverSettings.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr uint8_t kGpsMessage = 0;
constexpr uint8_t kReceiverSetup = 1;
constexpr uint8_t kSingleBlockR1 = 2;
constexpr uint8_t kSingleBlockR2 = 3;
constexpr uint8_t kCurrentFrequency = 5;
constexpr uint8_t kScanChannelList = 6;
constexpr uint8_t kScanReport = 7;
constexpr uint8_t kTableReport = 9;

constexpr int kSlots = 10;
constexpr int kTableSize = 3072;
constexpr int kScanEntries = 5;
constexpr int kTableEntries = 4;
constexpr int kFixStatus2D = 6;

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// std::llround without the library call, which cost as much as placing a
// sample: below 2^53 the fraction left after truncation is exact.
int64_t roundHalfAway(double x)
{
    if (!(std::fabs(x) < 9.0e15))
        return std::llround(x);
    const int64_t v = int64_t(x);
    const double rest = x - double(v);
    return rest >= 0.5 ? v + 1 : rest <= -0.5 ? v - 1 : v;
}

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

    void header(const KlfFileReader& in)
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

    void record(const KlfFileReader::Record& r, uint64_t index)
    {
        const std::span<const uint8_t> p = r.payload();
        switch (r.type) {
        case kGpsMessage: gps(p, index); break;
        case kReceiverSetup: receiverSetup(p); break;
        case kSingleBlockR1:
        case kSingleBlockR2: singleBlock(r.type == kSingleBlockR1 ? 0 : 1, p, index); break;
        case kCurrentFrequency:
        case kScanChannelList: channelInformation(r.type, p.data(), p.size()); break;
        case kScanReport: scanReport(p, index); break;
        case kTableReport: tableReport(p, index); break;
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
        if (type == kCurrentFrequency && n >= 8) {
            for (int r = 0; r < 2; ++r) {
                m_receivers[r].settings.current = le32(p + 4 * r);
                m_receivers[r].currentKnown = true;
            }
        } else if (type == kScanChannelList && n >= 8 * kSlots) {
            for (int r = 0; r < 2; ++r) {
                ReceiverSettings& s = m_receivers[r].settings;
                for (int slot = 0; slot < kSlots; ++slot)
                    s.scanChannels[size_t(slot)] = le32(p + 4 * (kSlots * r + slot));
                s.current = s.scanChannels[0];
                m_receivers[r].currentKnown = true;
                m_receivers[r].scanKnown = true;
            }
        }
    }

    void receiverSetup(std::span<const uint8_t> p)
    {
        if (p.size() < 25)
            return;
        // An inactive receiver's block is not read: it keeps its settings.
        for (int r = 0; r < 2; ++r) {
            if (p[0] & (1 << r)) {
                m_receivers[r].settings.storeBlock(p.data() + 1 + 12 * r);
                m_receivers[r].settingsKnown = true;
            }
        }
    }

    void singleBlock(int r, std::span<const uint8_t> p, uint64_t index)
    {
        // An empty block measured nothing; the program's -120 for it is a fill value.
        if (p.empty())
            return;
        int64_t sum = 0;
        for (uint8_t b : p)
            sum += int8_t(b);
        DriveSample s;
        s.record = index;
        s.receiver = uint8_t(r);
        s.mode = SampleMode::Single;
        s.rssi = int8_t(sum / int64_t(p.size()));
        const Receiver& rx = m_receivers[r];
        if (rx.settingsKnown && rx.currentKnown) {
            s.channel = rx.settings.channelOf(rx.settings.current);
            s.frequencyMHz = rx.mhz(rx.settings.current);
        }
        take(s);
    }

    void scanReport(std::span<const uint8_t> p, uint64_t index)
    {
        if (p.size() < 3 * kScanEntries)
            return;
        for (int e = 0; e < kScanEntries; ++e) {
            const uint8_t* entry = p.data() + 3 * e;
            if (entry[0] > 1 || entry[1] >= kSlots || repeatsEarlier(p.data(), e, 3))
                continue;
            DriveSample s;
            s.record = index;
            s.receiver = entry[0];
            s.slot = entry[1];
            s.mode = SampleMode::Scan;
            s.rssi = int8_t(entry[2]);
            const Receiver& rx = m_receivers[entry[0]];
            if (rx.settingsKnown && rx.scanKnown) {
                const uint32_t value = rx.settings.scanChannels[entry[1]];
                s.channel = rx.settings.channelOf(value);
                s.frequencyMHz = rx.mhz(value);
            }
            take(s);
        }
    }

    void tableReport(std::span<const uint8_t> p, uint64_t index)
    {
        if (p.size() < 4 * kTableEntries)
            return;
        for (int e = 0; e < kTableEntries; ++e) {
            const uint8_t* entry = p.data() + 4 * e;
            const int tableIndex = entry[1] | (entry[2] << 8);
            // 0 dBm is the table's "never received", shown empty by the program.
            if (tableIndex >= kTableSize || entry[3] == 0 || repeatsEarlier(p.data(), e, 4))
                continue;
            DriveSample s;
            s.record = index;
            s.receiver = entry[0] != 0 ? 1 : 0;
            s.mode = SampleMode::Table;
            s.rssi = int8_t(entry[3]);
            s.channel = tableIndex + 1;
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
    static bool repeatsEarlier(const uint8_t* entries, int e, int size)
    {
        for (int k = 0; k < e; ++k)
            if (std::memcmp(entries + size * k, entries + size * e, size_t(size)) == 0)
                return true;
        return false;
    }

    void gps(std::span<const uint8_t> p, uint64_t index)
    {
        DriveFix f;
        f.record = index;
        if (p.size() >= size_t(TGPS::kMessageSize)) {
            m_gps.Decode(p.data());
            f.latitude = m_gps.Latitude;
            f.longitude = m_gps.Longitude;
            f.heightM = m_gps.MSLHeight / 100.0;
            f.speedMps = m_gps.Speed2D / 100.0;
            f.headingDeg = m_gps.Heading / 10.0;
            f.status = m_gps.StatusCode();
            f.satellites = m_gps.TrackedSats;
            f.dop = m_gps.DOP / 10.0;
            f.timeValid = UtcTime::fromCivil(m_gps.Year, m_gps.Month, m_gps.Day, m_gps.Hours, m_gps.Minutes,
                                             m_gps.Seconds, f.timeMs);
            const bool possible = std::isfinite(f.latitude) && std::isfinite(f.longitude)
                                  && std::fabs(f.latitude) <= 90.0 && std::fabs(f.longitude) <= 180.0;
            f.used = f.status >= kFixStatus2D && possible && f.timeValid;
        }
        if (!f.used) {
            ++m_summary.fixesSkipped;
            m_sink.fix(f);
            return;
        }
        ++m_summary.fixesUsed;
        if (m_haveFix)
            m_queue.drain([this, &f](DriveSample& s) {
                place(s, m_last, f);
                deliver(s);
            });
        m_sink.fix(f);
        m_last = f;
        m_haveFix = true;
    }

    static void place(DriveSample& s, const DriveFix& a, const DriveFix& b)
    {
        const double t = double(s.record - a.record) / double(b.record - a.record);
        double dLon = b.longitude - a.longitude;
        // Across the antimeridian the short way round is the one driven.
        if (dLon > 180.0)
            dLon -= 360.0;
        else if (dLon < -180.0)
            dLon += 360.0;
        double lon = a.longitude + t * dLon;
        if (lon > 180.0)
            lon -= 360.0;
        else if (lon < -180.0)
            lon += 360.0;
        s.latitude = a.latitude + t * (b.latitude - a.latitude);
        s.longitude = lon;
        s.timeMs = a.timeMs + roundHalfAway(t * double(b.timeMs - a.timeMs));
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
    TGPS m_gps;
    DriveFix m_last;
    bool m_haveFix = false;
    SampleQueue m_queue;
};

DriveSummary::Status statusOf(KlfFileReader::Status s)
{
    switch (s) {
    case KlfFileReader::Status::Ok: return DriveSummary::Status::Ok;
    case KlfFileReader::Status::Malformed: return DriveSummary::Status::Malformed;
    case KlfFileReader::Status::Truncated: return DriveSummary::Status::Truncated;
    case KlfFileReader::Status::Unreadable: return DriveSummary::Status::Unreadable;
    }
    return DriveSummary::Status::Malformed;
}

} // namespace

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

    KlfFileReader in(file);
    Pass pass(m_filter, sink, summary);
    bool cancelled = false;
    if (in.readHeader()) {
        summary.hasHeader = in.hasHeader();
        summary.serialNumber = in.serialNumber();
        summary.receiverFlags = in.receiverFlags();
        pass.header(in);
        KlfFileReader::Record r;
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
