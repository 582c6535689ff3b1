#include "LogReplay.h"

#include "DeviceMessages.h"
#include "MessageTypes.h"
#include "log/KlfPullReader.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

// A log record is the frame without its sync byte.
SimFrame frameOf(std::span<const uint8_t> record)
{
    SimFrame f;
    f.type = record.size() > 2 ? record[2] : 0;
    f.bytes.reserve(record.size() + 1);
    f.bytes.push_back(FrameEncoder::kSync);
    f.bytes.insert(f.bytes.end(), record.begin(), record.end());
    return f;
}

} // namespace

LogReplay::LogReplay(double speed, bool flatOut, double measurementRate)
    : m_interval(1.0 / speed), m_measurementGap(1.0 / (measurementRate * speed)), m_flatOut(flatOut)
{
}

LogReplay::~LogReplay()
{
    m_log.reset();
    if (m_file)
        std::fclose(m_file);
}

bool LogReplay::open(const std::string& path, std::string& error)
{
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st{};
    if (::fstat(fileno(m_file), &st) == 0 && S_ISREG(st.st_mode))
        m_fileSize = uint64_t(st.st_size);
    m_log = std::make_unique<KlfPullReader>(m_file);
    if (!m_log->readHeader()) {
        error = path + ": " + m_log->error();
        return false;
    }
    if (m_log->hasHeader()) {
        m_serialNumber = DeviceMessages::serialNumber(m_log->serialNumber());
        std::vector<uint8_t> setup{m_log->receiverFlags()};
        for (int r = 0; r < 2; ++r) {
            const auto& block = m_log->settingsBlock(r);
            setup.insert(setup.end(), block.begin(), block.end());
        }
        m_receiverSetup = FrameEncoder::encode(sim::ReceiverSetup, setup);
        if (!m_log->channelInfo().empty())
            m_channelInfo = frameOf(m_log->channelInfo());
    }
    return true;
}

std::vector<SimFrame> LogReplay::answer(uint8_t command) const
{
    const SimFrame* f = nullptr;
    switch (command) {
    case sim::SerialNumberRequest: f = &m_serialNumber; break;
    case sim::SettingsRequest: f = &m_receiverSetup; break;
    case sim::ChannelInfoRequest: f = &m_channelInfo; break;
    default: break;
    }
    if (!f || f->bytes.empty())
        return {};
    return {*f};
}

void LogReplay::remember(const SimFrame& frame)
{
    switch (frame.type) {
    case sim::SerialNumber: m_serialNumber = frame; break;
    case sim::ReceiverSetup: m_receiverSetup = frame; break;
    case sim::CurrentFrequency:
    case sim::ScanChannelList: m_channelInfo = frame; break;
    default: break;
    }
}

void LogReplay::readStretch()
{
    // Packets up to and including the next once-a-second message.
    std::vector<SimFrame> stretch;
    bool endsWithMarker = false;
    KlfPullReader::Record r;
    while (stretch.size() < kLookAhead) {
        if (!m_log->next(r)) {
            m_logEnded = true;
            break;
        }
        if (!r.checksumOk) {
            if (m_skipped++ == 0)
                m_firstSkippedAt = r.offset;
            continue; // never on the wire: the program's framer drops it
        }
        stretch.push_back(frameOf(r.bytes));
        if (r.type == sim::GpsMessage || r.type == sim::ClockMarker) {
            endsWithMarker = true;
            break;
        }
    }
    const size_t n = stretch.size();
    for (size_t i = 0; i < n; ++i) {
        double due = m_clock;
        if (m_flatOut) {
            // all at once
        } else if (endsWithMarker) {
            // The marker closes the second; the packets before it share it evenly.
            if (m_seenMarker)
                due = m_clock + m_interval * double(i + 1) / double(n);
        } else if (sim::carriesRssi(stretch[i].type)) {
            m_clock += m_measurementGap;
            due = m_clock;
        }
        m_pending.push_back({std::move(stretch[i]), due});
    }
    if (endsWithMarker) {
        if (m_seenMarker && !m_flatOut)
            m_clock += m_interval;
        m_seenMarker = true;
    }
}

double LogReplay::nextDueAt()
{
    if (m_pending.empty() && !m_logEnded)
        readStretch();
    return m_pending.empty() ? -1.0 : m_pending.front().dueAt;
}

bool LogReplay::nextDue(double t, SimFrame& out)
{
    const double due = nextDueAt();
    if (due < 0 || due > t)
        return false;
    out = std::move(m_pending.front().frame);
    m_pending.pop_front();
    remember(out);
    ++m_played;
    return true;
}

bool LogReplay::finished()
{
    return nextDueAt() < 0;
}

std::string LogReplay::logProblem() const
{
    if (!m_log || m_log->status() == KlfPullReader::Status::Ok)
        return {};
    const bool stoppedEarly = m_fileSize > 0 ? m_log->offset() < m_fileSize
                                             : m_log->status() != KlfPullReader::Status::Malformed || m_skipped == 0;
    if (!stoppedEarly)
        return {};
    // The reader keeps its first problem; after a bad checksum that is not why it stopped.
    if (m_skipped == 0)
        return m_log->error();
    return "the records stop making sense at offset " + std::to_string(m_log->offset());
}
