#include "DriveIndex.h"

#include "drive/DriveReader.h"
#include "drive/FixDecoder.h"
#include "drive/RoutePlacement.h"
#include "log/KlfPullReader.h"
#include "platform/UtcTime.h"
#include "protocol/MessageCodec.h"
#include "protocol/MessageType.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint64_t kProgressStep = uint64_t(1) << 20; // bytes

} // namespace

bool DriveIndex::build(const std::string& path, const Progress& progress)
{
    *this = DriveIndex();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        m_summary.status = DriveSummary::Status::Unreadable;
        m_summary.error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool built = build(file, progress);
    std::fclose(file);
    return built;
}

bool DriveIndex::build(std::FILE* file, const Progress& progress)
{
    *this = DriveIndex();
    // Offsets are the file's: readReports reads them back with pread.
    std::rewind(file);
    struct stat st{};
    if (::fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode))
        m_summary.bytes = uint64_t(st.st_size);

    KlfPullReader in(file);
    DriveReports reports;
    FixDecoder fixes;
    bool cancelled = false;
    if (in.readHeader()) {
        m_summary.hasHeader = in.hasHeader();
        m_summary.serialNumber = in.serialNumber();
        m_summary.receiverFlags = in.receiverFlags();
        reports.header(in);
        KlfPullReader::Record r;
        uint64_t index = 0;
        uint64_t nextProgress = kProgressStep;
        while (in.next(r)) {
            if (index % kCheckpointRecords == 0)
                m_checkpoints.push_back({index, uint64_t(r.offset), reports.receivers()});
            if (r.checksumOk) {
                if (r.type == Message::GpsMessage) {
                    const DriveFix f = fixes.decode(r.payload(), index);
                    if (f.used) {
                        m_fixes.push_back(f);
                        ++m_summary.fixesUsed;
                    } else {
                        ++m_summary.fixesSkipped;
                    }
                } else {
                    if (r.type == Message::ClockMarker)
                        if (const auto c = MessageCodec::clockMarker(r.payload())) {
                            const auto& v = c->fields; // seconds, minutes, hours, day, month, year - 2000
                            int64_t ms = 0;
                            if (UtcTime::fromCivil(2000 + v[5], v[4], v[3], v[2], v[1], v[0], ms))
                                m_clocks.push_back({index, ms});
                        }
                    reports.take(r, index, nullptr);
                }
            }
            ++index;
            if (progress && in.offset() >= nextProgress) {
                nextProgress = in.offset() + kProgressStep;
                if (!progress(in.offset(), m_summary.bytes)) {
                    cancelled = true;
                    break;
                }
            }
        }
        m_summary.records = index;
    }
    m_summary.hasHeader = in.hasHeader();
    m_summary.bytesRead = in.offset();
    m_summary.checksumErrors = in.checksumErrors();
    m_summary.status = cancelled ? DriveSummary::Status::Cancelled : DriveReader::statusOf(in.status());
    m_summary.error = in.error();
    m_summary.stopOffset = in.errorOffset();
    m_checkpoints.push_back({m_summary.records, m_summary.bytesRead, reports.receivers()});
    if (progress && !cancelled)
        progress(m_summary.bytesRead, m_summary.bytes);
    return !cancelled && m_summary.status != DriveSummary::Status::Unreadable;
}

DriveIndex::Position DriveIndex::positionAt(uint64_t record) const
{
    Position p;
    const auto after = std::upper_bound(m_fixes.begin(), m_fixes.end(), record,
                                        [](uint64_t r, const DriveFix& f) { return r < f.record; });
    if (after == m_fixes.begin())
        return p;
    const DriveFix& a = *(after - 1);
    if (a.record == record) {
        p = {true, a.latitude, a.longitude, a.timeMs};
        return p;
    }
    if (after == m_fixes.end() || !RoutePlacement::placeable(a, *after))
        return p;
    const RoutePlacement::Place at = RoutePlacement::place(a, *after, record);
    return {true, at.latitude, at.longitude, at.timeMs};
}

std::optional<uint64_t> DriveIndex::recordAt(int64_t timeMs) const
{
    // A drive's time may go back (a receiver restarting with a stale date),
    // so the stretches are not searched by halves; 28 800 of them for 8 hours
    // take microseconds.
    for (std::size_t i = 0; i < m_fixes.size(); ++i) {
        const DriveFix& a = m_fixes[i];
        const bool last = i + 1 == m_fixes.size();
        if (last || !RoutePlacement::placeable(a, m_fixes[i + 1])) {
            if (timeMs == a.timeMs)
                return a.record;
            continue;
        }
        const DriveFix& b = m_fixes[i + 1];
        if (timeMs < a.timeMs || timeMs > b.timeMs)
            continue;
        if (b.timeMs == a.timeMs)
            return b.record;
        // A guess by proportion, then the exact placement decides.
        const double f = double(timeMs - a.timeMs) / double(b.timeMs - a.timeMs);
        uint64_t r = a.record + uint64_t(f * double(b.record - a.record));
        r = std::clamp(r, a.record, b.record);
        while (r < b.record && RoutePlacement::place(a, b, r + 1).timeMs <= timeMs)
            ++r;
        while (r > a.record && RoutePlacement::place(a, b, r).timeMs > timeMs)
            --r;
        return r;
    }
    return std::nullopt;
}

int64_t DriveIndex::clockAt(uint64_t record) const
{
    const Position p = positionAt(record);
    if (p.placed)
        return p.timeMs;
    if (m_fixes.empty()) {
        // No fix to tell the time by: the device's own clock is the next best.
        if (m_clocks.empty())
            return 0;
        const auto after = std::upper_bound(m_clocks.begin(), m_clocks.end(), record,
                                            [](uint64_t r, const ClockTime& c) { return r < c.record; });
        return after == m_clocks.begin() ? after->timeMs : (after - 1)->timeMs;
    }
    const auto after = std::upper_bound(m_fixes.begin(), m_fixes.end(), record,
                                        [](uint64_t r, const DriveFix& f) { return r < f.record; });
    return after == m_fixes.begin() ? after->timeMs : (after - 1)->timeMs;
}

bool DriveIndex::readReports(std::FILE* file, uint64_t from, uint64_t to, std::vector<DriveReports::Report>& out) const
{
    to = std::min(to, records());
    if (from >= to || m_checkpoints.empty())
        return true;
    // The last checkpoint at or before `from`, and the first at or after `to`.
    const auto start = std::upper_bound(m_checkpoints.begin(), m_checkpoints.end(), from,
                                        [](uint64_t r, const Checkpoint& c) { return r < c.record; }) - 1;
    const auto stop = std::lower_bound(m_checkpoints.begin(), m_checkpoints.end(), to,
                                       [](const Checkpoint& c, uint64_t r) { return c.record < r; });
    const std::size_t bytes = std::size_t(stop->offset - start->offset);
    std::vector<uint8_t> buffer(bytes);
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t n = ::pread(fileno(file), buffer.data() + got, bytes - got, off_t(start->offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += std::size_t(n);
    }

    KlfStream stream(KlfStream::HeaderMode::Absent);
    std::span<const uint8_t> unread(buffer);
    DriveReports reports;
    reports.resume(start->receivers);
    const std::size_t first = out.size();
    KlfStream::Record r;
    for (uint64_t index = start->record; index < to && stream.next(unread, r); ++index) {
        if (index == from)
            reports.settingsReports(from, out);
        if (r.checksumOk && r.type != Message::GpsMessage)
            reports.take(r, index, index >= from ? &out : nullptr);
    }
    uint64_t clockRecord = UINT64_MAX;
    int64_t clock = 0;
    for (std::size_t i = first; i < out.size(); ++i) {
        DriveReports::Report& report = out[i];
        if (report.record != clockRecord) {
            clockRecord = report.record;
            clock = clockAt(report.record);
        }
        report.report.utcMs = clock;
    }
    return true;
}

std::size_t DriveIndex::memoryBytes() const
{
    return sizeof *this + m_fixes.capacity() * sizeof(DriveFix) + m_clocks.capacity() * sizeof(ClockTime) + m_checkpoints.capacity() * sizeof(Checkpoint);
}
