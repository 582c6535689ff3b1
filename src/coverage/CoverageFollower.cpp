#include "coverage/CoverageFollower.h"

#include "coverage/FileDigest.h"
#include "drive/DriveReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <map>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitMalformed = 1;
constexpr int kExitTruncated = 2;
constexpr int kExitUsage = 3;

unsigned long long ull(uint64_t v)
{
    return static_cast<unsigned long long>(v);
}

// The first size bytes of a file as a stream of their own: a log as far
// as an upload read it, however it has grown since.
std::FILE* openPrefix(const std::string& path, uint64_t size)
{
    struct Prefix
    {
        std::FILE* file;
        uint64_t left;
    };
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return nullptr;
    cookie_io_functions_t io{};
    io.read = [](void* cookie, char* buffer, size_t size) -> ssize_t {
        auto* p = static_cast<Prefix*>(cookie);
        const size_t n = std::fread(buffer, 1, size_t(std::min<uint64_t>(size, p->left)), p->file);
        p->left -= n;
        return n == 0 && std::ferror(p->file) ? -1 : ssize_t(n);
    };
    io.close = [](void* cookie) {
        auto* p = static_cast<Prefix*>(cookie);
        const int r = std::fclose(p->file);
        delete p;
        return r;
    };
    auto* prefix = new Prefix{file, size};
    std::FILE* stream = ::fopencookie(prefix, "rb", io);
    if (!stream)
        io.close(prefix);
    return stream;
}

double secondsSince(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

} // namespace

// The drive follower's sink for the life of the follower; the binner behind
// it is replaced after each upload.
class CoverageFollower::Forward : public DriveSink
{
public:
    explicit Forward(CoverageFollower& f) : m_f(f) {}
    void fix(const DriveFix& x) override { m_f.m_binner->fix(x); }
    void sample(const DriveSample& s) override { m_f.m_binner->sample(s); }

private:
    CoverageFollower& m_f;
};

CoverageFollower::CoverageFollower(std::string path, CoverageStore& store, const CoverageGrid& grid, Options options)
    : m_path(std::move(path)), m_store(store), m_grid(grid), m_options(std::move(options)),
      m_forward(std::make_unique<Forward>(*this)), m_stopFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    const size_t slash = m_path.rfind('/');
    m_name = slash == std::string::npos ? m_path : m_path.substr(slash + 1);
}

CoverageFollower::~CoverageFollower()
{
    if (m_stopFd >= 0)
        ::close(m_stopFd);
}

void CoverageFollower::stop()
{
    m_stopping = true;
    const uint64_t one = 1;
    (void)!::write(m_stopFd, &one, sizeof one);
}

bool CoverageFollower::waitFor(Clock::time_point until)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    pollfd p{m_stopFd, POLLIN, 0};
    if (left > 0)
        ::poll(&p, 1, int(std::min<long long>(left, 60000)));
    return !m_stopping;
}

void CoverageFollower::say(std::FILE* err, const char* format, ...) const
{
    std::fprintf(err, "klf-coverage: %s: ", m_path.c_str());
    va_list args;
    va_start(args, format);
    std::vfprintf(err, format, args);
    va_end(args);
    std::fputc('\n', err);
    std::fflush(err);
}

bool CoverageFollower::readUpTo(const std::string& path, uint64_t bytes, const DriveFilter& filter,
                                CoverageBinner& into, std::string& error)
{
    DriveReader reader;
    reader.setFilter(filter);
    std::FILE* prefix = openPrefix(path, bytes);
    if (!prefix) {
        error = std::strerror(errno);
        return false;
    }
    const DriveSummary summary = reader.read(prefix, into);
    std::fclose(prefix);
    if (summary.status == DriveSummary::Status::Unreadable) {
        error = summary.error;
        return false;
    }
    return true;
}

bool CoverageFollower::restart(uint64_t from, std::string& error)
{
    // The earlier part again, as the upload that reached from read it: the
    // cells it reached count this drive already, and its last fix's DOP
    // judges the samples up to the later part's first.
    m_binner = std::make_unique<CoverageBinner>(m_grid, m_options.maxDop);
    m_reached.clear();
    m_lastPoint.reset();
    if (from > 0) {
        CoverageBinner earlier(m_grid, m_options.maxDop);
        if (!readUpTo(m_path, from, m_options.filter, earlier, error))
            return false;
        for (const auto& entry : earlier.drive().cells.map())
            m_reached.insert(entry.first);
        if (!earlier.drive().route.empty())
            m_lastPoint = earlier.drive().route.back();
        m_binner->continueFrom(earlier);
    }
    m_drive = std::make_unique<DriveFollower>(m_path, *m_forward, m_options.filter);
    if (!m_drive->open(from)) {
        error = m_drive->summary().error;
        return false;
    }
    m_sent = from;
    m_sentSha.clear();
    return m_digest.open(m_path, m_drive->log().device(), m_drive->log().inode(), error)
           && (from == 0 || m_digest.upTo(from, m_sentSha, error));
}

bool CoverageFollower::resume(bool& fatal, std::string& error)
{
    std::vector<uint64_t> lengths;
    std::map<uint64_t, std::string> digests;
    CoverageStore::Known known;
    if (!m_store.identityLengths(lengths, error) || !FileDigest::prefixes(m_path, lengths, digests, error)
        || !m_store.find(digests, m_name, known, error))
        return false;
    if (!known.found && known.sameNameBefore && !m_known) {
        // Known by its whole-file hash alone, which a growing log has not.
        error = "a log of this name is in the map, added before logs were known by their beginning, and whether"
                " this is it cannot be told: not followed (renamed, it is added as another log)";
        fatal = true;
        return false;
    }
    m_sameName = known.sameName && !known.found;
    const uint64_t at = known.found ? known.bytesRead : 0;
    if (m_drive && known.found == m_known && at == m_sent && (!known.found || known.readSha256 == m_sentSha))
        return true; // as we left it
    if (!restart(at, error)) {
        if (m_drive && m_drive->summary().bytes < at)
            error = "the map read " + std::to_string(at) + " bytes of this log, and it is shorter: " + error;
        fatal = true;
        return false;
    }
    if (known.found && m_sentSha != known.readSha256) {
        error = "begins as a log in the map but does not go on from where the map stopped reading it (byte "
                + std::to_string(at) + "): changed since";
        fatal = true;
        return false;
    }
    m_known = known.found;
    m_logId = known.logId;
    m_logIdBytes = known.logIdBytes;
    if (at > 0)
        say(m_err, "the map has it to byte %llu: going on from there", ull(at));
    return true;
}

CoverageFollower::Sent CoverageFollower::upload(bool last, bool& fatal, std::string& error)
{
    const uint64_t offset = m_drive->offset();
    const DriveSummary& summary = m_drive->summary();
    if (!last && offset == m_sent)
        return Sent::Nothing;
    // Sent once it can be known by its beginning, so that a later upload
    // finds it; a log that ends shorter goes as a one-shot run adds it.
    const bool tooShort = offset < DriveCoverage::kLogIdBytes;
    if (!m_known && tooShort && (!last || m_stoppedEarly)) {
        if (last && offset > 0)
            say(m_err, "stopped before its first %llu bytes, which it will be known by, were written: not sent"
                       " (a later run sends it)", ull(DriveCoverage::kLogIdBytes));
        return Sent::Nothing;
    }
    // Known by its whole-file hash alone, a short log under the name of one
    // in the map cannot be told from it, as a one-shot run says too.
    if (!m_known && tooShort && m_sameName) {
        say(m_err, "a log of this name is in the map, and whether this is it in part cannot be told: not added"
                   " (renamed, it is added as another log)");
        return Sent::Nothing;
    }
    if (!m_known && !summary.hasHeader && summary.records == 0)
        return Sent::Nothing; // not a log: nothing to add
    if (!m_known && !tooShort && m_sameName) {
        say(m_err, "begins otherwise than the log of this name in the map: another log");
        m_sameName = false;
    }
    DriveCoverage drive = m_binner->drive();
    for (const auto& entry : m_binner->drive().cells.map())
        drive.cells.at(entry.first).drives = m_reached.count(entry.first) ? 0 : 1;
    // The route goes on from where the last upload's ended.
    if (m_lastPoint && !drive.route.empty())
        drive.route.insert(drive.route.begin(), *m_lastPoint);
    drive.fileName = m_name;
    drive.serialNumber = summary.serialNumber;
    drive.bytesRead = offset;
    std::string whole;
    if (!m_digest.upTo(offset, drive.readSha256, error) || (last && !m_digest.whole(whole, error))) {
        error = "cannot read " + m_path + ": " + error;
        fatal = true;
        return Sent::Failed;
    }
    if (m_known) {
        drive.logId = m_logId;
        drive.logIdBytes = m_logIdBytes;
        drive.resumedFrom = m_sent;
        drive.sha256 = whole;
    } else {
        if (offset >= DriveCoverage::kLogIdBytes) {
            drive.logIdBytes = DriveCoverage::kLogIdBytes;
            if (!m_digest.of(drive.logIdBytes, drive.logId, error)) {
                error = "cannot read " + m_path + ": " + error;
                fatal = true;
                return Sent::Failed;
            }
        }
        drive.sha256 = last ? whole : drive.readSha256;
    }
    const std::string logId = drive.logId, readSha = drive.readSha256;
    const uint64_t logIdBytes = drive.logIdBytes;
    m_pendingSamples = drive.samplesPlaced;
    bool already = false;
    if (!m_store.add(std::move(drive), already, error))
        return Sent::Failed;
    if (already && logId.empty()) {
        say(m_err, "already in the map (same SHA-256), skipped");
        return Sent::Nothing;
    }
    if (already)
        return Sent::Moved;
    m_known = !logId.empty();
    m_logId = logId;
    m_logIdBytes = logIdBytes;
    m_sentFrom = m_sent;
    m_sent = offset;
    m_sentSha = readSha;
    for (const auto& entry : m_binner->drive().cells.map())
        m_reached.insert(entry.first);
    if (!m_binner->drive().route.empty())
        m_lastPoint = m_binner->drive().route.back();
    auto next = std::make_unique<CoverageBinner>(m_grid, m_options.maxDop);
    next->continueFrom(*m_binner);
    m_binner = std::move(next);
    ++m_uploads;
    return Sent::Done;
}

CoverageFollower::Sent CoverageFollower::attempt(bool last, bool& fatal, std::string& error)
{
    // Another upload may move the row on meanwhile (a one-shot run of the
    // same log): then the map is asked again.
    for (int round = 0; round < 3; ++round) {
        if (!m_connected) {
            if (!m_store.open(error) || !resume(fatal, error))
                return Sent::Failed;
            m_connected = true;
        }
        const Sent sent = upload(last, fatal, error);
        if (sent == Sent::Failed)
            m_connected = false; // the server's row is the truth: asked again first
        if (sent != Sent::Moved)
            return sent;
        say(m_err, "the map read this log further meanwhile (another upload): going on from where it stopped");
        if (!resume(fatal, error)) {
            m_connected = false;
            return Sent::Failed;
        }
    }
    error = "the map's row for this log keeps moving under us";
    return Sent::Failed;
}

void CoverageFollower::noteSent(Sent sent)
{
    if (m_offline && sent != Sent::Failed) {
        m_offline = false;
        if (sent == Sent::Done)
            say(m_err, "server back: sent %llu samples (bytes %llu to %llu) after %.0f s", ull(m_pendingSamples),
                ull(m_sentFrom), ull(m_sent), secondsSince(m_offlineSince));
        else
            say(m_err, "server back after %.0f s", secondsSince(m_offlineSince));
    } else if (sent == Sent::Done && m_options.verbose) {
        say(m_err, "sent bytes %llu to %llu: %llu samples", ull(m_sentFrom), ull(m_sent), ull(m_pendingSamples));
    }
}

void CoverageFollower::noteFailed(const std::string& error)
{
    if (m_offline)
        return;
    m_offline = true;
    m_offlineSince = Clock::now();
    // libpq's messages run over lines; one line here.
    std::string line;
    for (const char c : error) {
        const bool space = c == '\n' || c == '\t' || c == ' ';
        if (!space)
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    say(m_err, "server unreachable: %s; keeping %llu samples to send", line.c_str(),
        ull(m_binner ? m_binner->drive().samplesPlaced : 0));
}

bool CoverageFollower::uploadLast(bool& fatal)
{
    double delay = std::min(m_options.everySeconds, 1.0);
    for (;;) {
        std::string error;
        const Sent sent = attempt(true, fatal, error);
        if (sent != Sent::Failed) {
            noteSent(sent);
            return true;
        }
        if (fatal) {
            say(m_err, "%s", error.c_str());
            return false;
        }
        noteFailed(error);
        // Stopped: what could not be sent is a later run's.
        if (m_stopping || !waitFor(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(delay)))) {
            say(m_err, "stopped before the server answered: bytes %llu to %llu not sent (a later run sends them)",
                ull(m_sent), ull(m_drive->offset()));
            return false;
        }
        delay = std::min(delay * 2, kMaxRetrySeconds);
    }
}

int CoverageFollower::finishLog(bool stopped)
{
    // Stopped while the logger goes on: what is whole is sent, and the rest
    // is a later run's (a log still growing is not finished).
    m_stoppedEarly = stopped;
    if (stopped)
        m_drive->update();
    const DriveSummary summary = stopped ? m_drive->summary() : m_drive->finish();
    bool fatal = false;
    const bool sent = uploadLast(fatal);
    say(m_err, "%s at byte %llu: %llu records; fixes: %llu used; %llu uploads",
        stopped ? "stopped following" : "finished", ull(m_drive->offset()), ull(summary.records),
        ull(summary.fixesUsed), ull(m_uploads));
    if (!sent)
        return kExitUsage;
    if (summary.status == DriveSummary::Status::Unreadable) {
        say(m_err, "%s", summary.error.c_str());
        return kExitUsage;
    }
    if (!summary.whole()) {
        say(m_err, "stopped: %s; added what came before", summary.error.c_str());
        return summary.status == DriveSummary::Status::Truncated ? kExitTruncated : kExitMalformed;
    }
    return kExitOk;
}

int CoverageFollower::run(std::FILE* err)
{
    m_err = err;
    std::string error;
    if (::access(m_path.c_str(), R_OK) != 0) {
        say(err, "cannot read: %s", std::strerror(errno));
        return kExitUsage;
    }
    bool fatal = false;
    // The map first: resuming where it stopped reads the log once.
    if (m_store.open(error) && resume(fatal, error)) {
        m_connected = true;
    } else if (fatal) {
        say(err, "%s", error.c_str());
        return kExitMalformed;
    } else {
        noteFailed(error);
        if (!restart(0, error)) {
            say(err, "cannot read: %s", error.c_str());
            return kExitUsage;
        }
    }
    if (!m_drive) {
        say(err, "cannot read: %s", error.c_str());
        return kExitUsage;
    }
    const auto every = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_options.everySeconds));
    double delay = std::min(m_options.everySeconds, 1.0);
    Clock::time_point nextUpload = Clock::now();
    bool gone = false; // deleted or replaced: another log follows under the name
    int status = kExitOk;
    for (;;) {
        if (m_stopping)
            return std::max(status, finishLog(true));
        const Change change = m_drive->update();
        if ((change == Change::Deleted || change == Change::Replaced) && !gone) {
            gone = true;
            say(err, "%s: the log followed is finished once the logger lets go of it; the next one at the name is"
                     " another log",
                change == Change::Deleted ? "deleted" : "replaced");
        }
        // The logger holds its lock while it logs; a log that stopped making
        // sense will not go on either.
        const bool broken = m_drive->summary().status != DriveSummary::Status::Ok;
        if (broken || !m_drive->log().writerHoldsLock()) {
            status = std::max(status, finishLog(false));
            if (!gone)
                return status;
            // The logger starts a new file under the name: followed anew.
            while (m_drive->log().poll() != Change::Replaced)
                if (!waitFor(Clock::now() + every))
                    return status;
            gone = false;
            m_known = false;
            m_logId.clear();
            m_logIdBytes = 0;
            m_uploads = 0;
            m_drive.reset();
            m_connected = false;
            if (!restart(0, error)) {
                say(err, "cannot read: %s", error.c_str());
                return kExitUsage;
            }
            say(err, "following the new log at the name");
            nextUpload = Clock::now();
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (now >= nextUpload) {
            fatal = false;
            const Sent sent = attempt(false, fatal, error);
            if (fatal) {
                say(err, "%s", error.c_str());
                return kExitMalformed;
            }
            if (sent == Sent::Failed) {
                if (m_offline)
                    delay = std::min(delay * 2, kMaxRetrySeconds);
                noteFailed(error);
                nextUpload = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(delay));
            } else {
                noteSent(sent);
                delay = std::min(m_options.everySeconds, 1.0);
                nextUpload = now + every;
            }
        }
        waitFor(std::min(now + every, nextUpload));
    }
}
