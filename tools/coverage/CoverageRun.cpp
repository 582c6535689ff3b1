#include "CoverageRun.h"

#include "coverage/BackgroundBinner.h"
#include "coverage/CoverageBinner.h"
#include "coverage/CoverageFollower.h"
#include "coverage/FileDigest.h"
#include "coverage/GpkgCoverageStore.h"
#include "coverage/PgCoverageStore.h"
#include "drive/DriveFollower.h"
#include "drive/DriveReader.h"
#include "drive/LogFiles.h"
#include "platform/ProgressBar.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr int kExitOk = DriveToolOptions::kExitOk;
constexpr int kExitMalformed = 1;
constexpr int kExitTruncated = 2;
constexpr int kExitUsage = DriveToolOptions::kExitUsage;

namespace fs = std::filesystem;

volatile std::sig_atomic_t g_interrupt = 0; // the signal that asked the run to stop
std::atomic<CoverageFollower*> g_follower{nullptr}; // while following, told to stop

void interrupted(int signal)
{
    g_interrupt = signal;
    if (CoverageFollower* f = g_follower.load())
        f->stop();
}

// Ctrl-C, TERM or HUP stops the run between two steps, so that the map is
// rolled back (or, new, taken away); a second one kills at once. What was
// there before comes back when the run is over, as a library call leaves
// its caller's signals as it found them.
class SignalStop
{
public:
    SignalStop()
    {
        g_interrupt = 0;
        struct sigaction action{};
        action.sa_handler = interrupted;
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < kSignals.size(); ++i) {
            // One ignored from the start (nohup, a script's background job) stays so.
            m_taken[i] = sigaction(kSignals[i], nullptr, &m_before[i]) == 0 && m_before[i].sa_handler != SIG_IGN
                         && sigaction(kSignals[i], &action, nullptr) == 0;
        }
    }
    ~SignalStop()
    {
        for (size_t i = 0; i < kSignals.size(); ++i)
            if (m_taken[i])
                sigaction(kSignals[i], &m_before[i], nullptr);
    }
    SignalStop(const SignalStop&) = delete;
    SignalStop& operator=(const SignalStop&) = delete;

private:
    static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
    std::array<struct sigaction, 3> m_before{};
    std::array<bool, 3> m_taken{};
};

unsigned long long ull(uint64_t v)
{
    return static_cast<unsigned long long>(v);
}

// The one place that knows the kinds of store.
std::unique_ptr<CoverageStore> storeFor(const CoverageOptions& o, const CoverageStore::Settings& settings)
{
    if (o.database.empty())
        return std::make_unique<GpkgCoverageStore>(o.output, settings);
    return std::make_unique<PgCoverageStore>(o.database, settings);
}

// A grown log read on from where the map stopped reading it, as one drive
// with what the map has of it. False, with summary's error, when the log
// does not end a record there.
bool readOn(const std::string& log, uint64_t from, const CoverageGrid& grid, const CoverageOptions& options,
            DriveCoverage& drive, DriveSummary& summary, uint64_t& leftOut)
{
    // The earlier part again, as the earlier run read it: the cells it
    // reached count this drive already, and its last fix's DOP judges the
    // samples up to the later part's first.
    CoverageBinner earlier(grid, options.maxDop);
    if (!CoverageFollower::readUpTo(log, from, options.filter, earlier, summary.error)) {
        summary.status = DriveSummary::Status::Unreadable;
        return false;
    }
    CoverageBinner later(grid, options.maxDop);
    later.continueFrom(earlier);
    DriveFollower follower(log, later, options.filter);
    if (!follower.open(from)) {
        summary = follower.summary();
        return false;
    }
    summary = follower.finish();
    drive = std::move(later.drive());
    drive.bytesRead = follower.offset();
    leftOut = later.samplesLeftOut();
    const CoverageCells::Map& reached = earlier.drive().cells.map();
    for (const auto& entry : drive.cells.map())
        if (reached.count(entry.first) > 0)
            drive.cells.at(entry.first).drives = 0;
    return true;
}

// One log followed as it grows, its cells uploaded every few seconds until
// the logger closes it or a signal stops the following.
int follow(const CoverageOptions& options, std::FILE* err)
{
    const std::string& log = options.inputs.front();
    std::error_code ec;
    if (fs::is_directory(log, ec)) {
        std::fprintf(err, "klf-coverage: %s: --follow follows one log, not a folder\n", log.c_str());
        return kExitUsage;
    }
    const CoverageStore::Settings settings{options.cellMetres, options.rangeMin, options.rangeMax};
    PgCoverageStore store(options.database, settings);
    const CoverageGrid grid(options.cellMetres);
    CoverageFollower follower(log, store, grid, {options.everySeconds, options.maxDop, options.filter, options.verbose});
    // A signal ends the following after a last upload, and then the run as
    // usual: exit 0 once what was whole is sent.
    SignalStop signalStop;
    g_follower = &follower;
    const int status = follower.run(err);
    g_follower = nullptr;
    std::string error;
    if (store.connected() && store.finish(error))
        std::fprintf(err, "klf-coverage: the database: %llu cell rows in the map\n", ull(store.cellRows()));
    return status;
}

} // namespace

int CoverageRun::run(const CoverageOptions& options, std::FILE*, std::FILE* err)
{
    if (options.follow)
        return follow(options, err);
    std::vector<std::string> logs;
    std::string error;
    if (!LogFiles::collect(options.inputs, logs, error, [err](const std::string& folder) {
            std::fprintf(err, "klf-coverage: %s: no .KLF files\n", folder.c_str());
        })) {
        std::fprintf(err, "klf-coverage: %s\n", error.c_str());
        return kExitUsage;
    }
    uint64_t totalBytes = 0;
    for (const std::string& log : logs) {
        std::error_code ec;
        const uintmax_t size = fs::file_size(log, ec);
        totalBytes += ec ? 0 : uint64_t(size);
    }

    const CoverageStore::Settings settings{options.cellMetres, options.rangeMin, options.rangeMax};
    const std::string where = options.database.empty() ? options.output : std::string("the database");
    // One transaction for the run is rolled back on a signal; a store with a
    // transaction per log leaves the signals as they are. Declared first, the
    // handlers outlive the store, whose closing ends the run.
    std::optional<SignalStop> signalStop;
    std::unique_ptr<CoverageStore> store = storeFor(options, settings);
    if (store->oneTransaction())
        signalStop.emplace();
    const bool wholeRun = store->oneTransaction();
    // Rolls the map back, or takes a new one away, and ends as the signal
    // would have.
    const auto stop = [&store, &where, wholeRun, err]() {
        std::fprintf(err, "klf-coverage: interrupted; %s %s\n", where.c_str(),
                     wholeRun && store->making() ? "not made" : "left as it was");
        store.reset();
        std::signal(g_interrupt, SIG_DFL);
        std::raise(g_interrupt);
        return kExitUsage;
    };
    if (!store->open(error)) {
        std::fprintf(err, "klf-coverage: %s: %s\n", where.c_str(), error.c_str());
        return kExitUsage;
    }
    if (g_interrupt)
        return stop();
    if (options.rangeGiven && !store->making())
        std::fprintf(err,
                     "klf-coverage: %s: --range ignored: a map keeps the style it was made with"
                     " (QGIS's layer properties change it)\n",
                     where.c_str());

    const CoverageGrid grid(options.cellMetres);
    ProgressBar bar(err, "klf-coverage", totalBytes, ProgressBar::wanted(err, totalBytes));
    uint64_t doneBytes = 0;
    int status = kExitOk;
    uint64_t added = 0, skipped = 0;
    for (const std::string& log : logs) {
        const std::string name = fs::path(log).filename().string();
        // A log that cannot be read: a run in one transaction gives up (true),
        // one with a transaction per log goes on to the next.
        const auto cannotRead = [&](const std::string& why) {
            bar.clear();
            std::fprintf(err, "klf-coverage: cannot read %s: %s\n", log.c_str(), why.c_str());
            status = kExitUsage;
            return wholeRun;
        };
        // A log that begins as one in the map but not as the map read it.
        const auto changedSince = [&](uint64_t bytesRead) {
            std::fprintf(err,
                         "klf-coverage: %s: begins as a log in the map but does not go on from where the map"
                         " stopped reading it (byte %llu): changed since; nothing added\n",
                         log.c_str(), ull(bytesRead));
            if (status != kExitUsage)
                status = std::max(status, kExitMalformed);
        };
        // A log's drive into the map: added, skipped as there already, or
        // failed, which ends the run when nothing more could go in.
        enum class Added { Yes, Skipped, Failed, EndRun };
        const auto addToMap = [&](DriveCoverage drive, const char* alreadyWhy) {
            bool already = false;
            if (!store->add(std::move(drive), already, error)) {
                std::fprintf(err, "klf-coverage: %s: adding %s failed: %s\n", where.c_str(), log.c_str(),
                             error.c_str());
                // In PostGIS the log's transaction is undone and the others go
                // on, unless the server is gone.
                if (wholeRun || !store->connected())
                    return Added::EndRun;
                status = kExitUsage;
                return Added::Failed;
            }
            if (already) {
                std::fprintf(err, "klf-coverage: %s: already in the map (%s), skipped\n", log.c_str(), alreadyWhy);
                ++skipped;
                return Added::Skipped;
            }
            ++added;
            return Added::Yes;
        };
        std::string hashError;
        const std::string sha = FileDigest::sha256(log, hashError, [] { return g_interrupt == 0; });
        std::error_code ec;
        const uint64_t size = uint64_t(fs::file_size(log, ec));
        if (g_interrupt) {
            bar.clear();
            return stop();
        }
        if (sha.empty()) {
            bar.clear();
            std::fprintf(err, "klf-coverage: cannot read %s: %s\n", log.c_str(), hashError.c_str());
            // The run's one transaction is given up: nothing of it is kept.
            if (wholeRun)
                return kExitUsage;
            status = kExitUsage;
            continue;
        }
        bool found = false;
        if (!store->contains(sha, found, error)) {
            bar.clear();
            std::fprintf(err, "klf-coverage: %s: cannot tell whether %s is in it: %s\n", where.c_str(), log.c_str(),
                         error.c_str());
            if (wholeRun || !store->connected())
                return kExitUsage;
            status = kExitUsage;
            continue;
        }
        if (found) {
            bar.clear();
            std::fprintf(err, "klf-coverage: %s: already in the map (same SHA-256), skipped\n", log.c_str());
            ++skipped;
            doneBytes += ec ? 0 : size;
            continue;
        }
        // Known by its beginning: a log grown since the map read it.
        std::vector<uint64_t> lengths;
        std::map<uint64_t, std::string> digests;
        CoverageStore::Known known;
        if (!store->identityLengths(lengths, error) || !FileDigest::prefixes(log, lengths, digests, error)
            || !store->find(digests, name, known, error)) {
            bar.clear();
            std::fprintf(err, "klf-coverage: %s: cannot tell whether %s is in it: %s\n", where.c_str(), log.c_str(),
                         error.c_str());
            if (wholeRun || !store->connected())
                return kExitUsage;
            status = kExitUsage;
            continue;
        }
        const bool tooShort = ec || size < DriveCoverage::kLogIdBytes;
        if (!known.found && (known.sameNameBefore || (known.sameName && tooShort))) {
            // Known by its whole-file hash alone, which a grown log no longer
            // has, or too short to be known by its beginning: added whole, a
            // part would count twice.
            bar.clear();
            std::fprintf(err,
                         "klf-coverage: %s: a log of this name is in the map, and whether this is it %s cannot be"
                         " told: not added (renamed, it is added as another log)\n",
                         log.c_str(), tooShort ? "in part" : "grown");
            ++skipped;
            doneBytes += ec ? 0 : size;
            continue;
        }
        if (!known.found && known.sameName)
            std::fprintf(err, "klf-coverage: %s: begins otherwise than the log of this name in the map: another log\n",
                         log.c_str());
        if (known.found) {
            bar.clear();
            DriveCoverage later;
            DriveSummary summary;
            uint64_t leftOut = 0;
            doneBytes += ec ? 0 : size;
            // Read to its end already: the same again, known without a read.
            if (!ec && size == known.bytesRead) {
                std::fprintf(err, "klf-coverage: %s: already in the map (read to its end), skipped\n", log.c_str());
                ++skipped;
                continue;
            }
            if (!readOn(log, known.bytesRead, grid, options, later, summary, leftOut)) {
                if (summary.status == DriveSummary::Status::Unreadable) {
                    if (cannotRead(summary.error))
                        return kExitUsage;
                    continue;
                }
                if (summary.bytes < known.bytesRead) {
                    std::fprintf(err,
                                 "klf-coverage: %s: already in the map, which read it further (to byte %llu), skipped\n",
                                 log.c_str(), ull(known.bytesRead));
                    ++skipped;
                    continue;
                }
                changedSince(known.bytesRead);
                continue;
            }
            if (g_interrupt)
                return stop();
            if (later.bytesRead == known.bytesRead) {
                std::fprintf(err, "klf-coverage: %s: already in the map (read to its end), skipped\n", log.c_str());
                ++skipped;
                continue;
            }
            // What the map read must be there unchanged: a record may well
            // end at the same offset in a log changed after its beginning.
            std::map<uint64_t, std::string> read;
            error.clear();
            if (!FileDigest::prefixes(log, {known.bytesRead, later.bytesRead}, read, error)
                || read.count(later.bytesRead) == 0) {
                if (cannotRead(error.empty() ? "shorter than it was" : error))
                    return kExitUsage;
                continue;
            }
            if (read[known.bytesRead] != known.readSha256) {
                changedSince(known.bytesRead);
                continue;
            }
            later.readSha256 = read[later.bytesRead];
            later.fileName = name;
            later.serialNumber = summary.serialNumber;
            later.logId = known.logId;
            later.logIdBytes = known.logIdBytes;
            later.resumedFrom = known.bytesRead;
            const uint64_t cellRows = later.cells.size(), placed = later.samplesPlaced, binned = later.samplesBinned;
            const uint64_t to = later.bytesRead;
            const Added laterAdded = addToMap(std::move(later), "read meanwhile");
            if (laterAdded == Added::EndRun)
                return kExitUsage;
            if (laterAdded != Added::Yes)
                continue;
            std::fprintf(err,
                         "klf-coverage: %s: grown since it was added: bytes %llu to %llu read on; samples: %llu"
                         " placed, %llu in %llu cell rows, %llu left out\n",
                         log.c_str(), ull(known.bytesRead), ull(to), ull(placed), ull(binned), ull(cellRows),
                         ull(leftOut));
            if (!summary.whole()) {
                std::fprintf(err, "klf-coverage: %s: stopped: %s; added what came before\n", log.c_str(),
                             summary.error.c_str());
                const int damage = summary.status == DriveSummary::Status::Truncated ? kExitTruncated : kExitMalformed;
                if (status != kExitUsage)
                    status = std::max(status, damage);
            }
            continue;
        }
        CoverageBinner binner(grid, options.maxDop);
        DriveReader reader;
        reader.setFilter(options.filter);
        reader.setProgress([&bar, doneBytes](uint64_t done, uint64_t) {
            bar.update(doneBytes + done);
            return g_interrupt == 0;
        });
        BackgroundBinner background(binner);
        DriveSummary summary = reader.read(log, background);
        background.finish();
        doneBytes += ec ? 0 : size;
        bar.clear();
        if (g_interrupt)
            return stop();
        if (summary.status == DriveSummary::Status::Unreadable) {
            std::fprintf(err, "klf-coverage: %s: %s\n", log.c_str(), summary.error.c_str());
            if (wholeRun)
                return kExitUsage;
            status = kExitUsage;
            continue;
        }
        // A cut-off log outranks a malformed one, as in klf-export.
        const auto damaged = [&status, &summary]() {
            const int damage = summary.status == DriveSummary::Status::Truncated ? kExitTruncated : kExitMalformed;
            if (status != kExitUsage)
                status = std::max(status, damage);
        };
        // Not a header nor a record: no log, and no drive of the map.
        if (!summary.hasHeader && summary.records == 0) {
            if (summary.whole()) {
                summary.status = DriveSummary::Status::Malformed;
                summary.error = "empty file, no header"; // as klf-export says
            }
            std::fprintf(err, "klf-coverage: %s: stopped: %s; not a log, nothing added\n", log.c_str(),
                         summary.error.c_str());
            damaged();
            continue;
        }
        DriveCoverage& drive = binner.drive();
        drive.fileName = name;
        drive.sha256 = sha;
        drive.serialNumber = summary.serialNumber;
        // Known from now on by its beginning, which the logger only appends to.
        drive.bytesRead = summary.bytesRead;
        if (summary.bytesRead >= DriveCoverage::kLogIdBytes) {
            drive.logIdBytes = DriveCoverage::kLogIdBytes;
            std::map<uint64_t, std::string> id;
            error.clear();
            if (!FileDigest::prefixes(log, {drive.logIdBytes}, id, error) || id.count(drive.logIdBytes) == 0) {
                if (cannotRead(error.empty() ? "shorter than it was" : error))
                    return kExitUsage;
                continue;
            }
            drive.logId = id[drive.logIdBytes];
            drive.readSha256 = sha;
            if (summary.bytesRead != size && (!FileDigest::prefixes(log, {summary.bytesRead}, id, error)
                                              || id.count(summary.bytesRead) == 0)) {
                if (cannotRead(error.empty() ? "shorter than it was" : error))
                    return kExitUsage;
                continue;
            }
            if (summary.bytesRead != size)
                drive.readSha256 = id[summary.bytesRead];
        }
        const uint64_t cellRows = drive.cells.size(), placed = drive.samplesPlaced, binned = drive.samplesBinned;
        const Added driveAdded = addToMap(std::move(drive), "same SHA-256");
        if (driveAdded == Added::EndRun)
            return kExitUsage;
        if (driveAdded != Added::Yes)
            continue;
        std::fprintf(err,
                     "klf-coverage: %s: %llu records; fixes: %llu used; samples: %llu placed, %llu in %llu cell rows"
                     ", %llu left out\n",
                     log.c_str(), ull(summary.records), ull(summary.fixesUsed), ull(placed),
                     ull(binned), ull(cellRows), ull(binner.samplesLeftOut()));
        if (cellRows == 0)
            std::fprintf(err, "klf-coverage: %s: no cell added: %s\n", log.c_str(),
                         summary.fixesUsed == 0 ? "it holds no GPS fix to place a sample by"
                         : placed == 0          ? "no sample lies between two used fixes"
                                                : "no placed sample is of the receiver and channel chosen");
        if (!summary.whole()) {
            std::fprintf(err, "klf-coverage: %s: stopped: %s; added what came before\n", log.c_str(),
                         summary.error.c_str());
            damaged();
        }
    }
    // Past this point the run completes; a second signal still kills it,
    // and a new map then stays under its temporary name.
    if (g_interrupt)
        return stop();
    // A map this run was to make, with no cell to show (no logs, damaged
    // ones, or none with a placed sample): not made, rather than left empty
    // to pass for one, and not said to be done.
    if (wholeRun && store->making() && store->cellRows() == 0) {
        std::fprintf(err, "klf-coverage: %s: not made: %s\n", where.c_str(),
                     logs.empty() ? "no .KLF file to read" : "no cell to map");
        return status != kExitOk ? status : kExitUsage;
    }
    if (!store->finish(error)) {
        std::fprintf(err, "klf-coverage: %s: %s\n", where.c_str(), error.c_str());
        return kExitUsage;
    }
    std::fprintf(err, "klf-coverage: %s: %llu logs added, %llu skipped; %llu cell rows in the map\n", where.c_str(),
                 ull(added), ull(skipped), ull(store->cellRows()));
    return status;
}
