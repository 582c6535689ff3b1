// klf-coverage: .KLF logs binned into a coverage map per channel, in a
// GeoPackage or a PostGIS database. See klf-coverage --help.
//
// Exit status: 0 every log was whole; 1 a log is malformed, 2 cut off (what
// was whole is added, and where it stopped is said), as klf-export's; 3
// usage or I/O error. A GeoPackage is written in one transaction: a run that
// fails or is interrupted leaves it as it was, and a new one not at all.

#include "CoverageOptions.h"
#include "coverage/BackgroundBinner.h"
#include "coverage/CoverageBinner.h"
#include "coverage/FileDigest.h"
#include "coverage/GpkgCoverageStore.h"
#include "coverage/PgCoverageStore.h"
#include "drive/DriveFollower.h"
#include "drive/DriveReader.h"
#include "platform/ProgressBar.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitMalformed = 1;
constexpr int kExitTruncated = 2;
constexpr int kExitUsage = 3;

namespace fs = std::filesystem;

bool isLogName(const fs::path& p)
{
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".klf";
}

// The logs named, folders opened to the .KLF files under them, in name order.
bool collectLogs(const std::vector<std::string>& inputs, std::vector<std::string>& logs, std::string& error)
{
    for (const std::string& input : inputs) {
        std::error_code ec;
        const fs::file_status st = fs::status(input, ec);
        if (ec || !fs::exists(st)) {
            error = "cannot open " + input + ": " + (ec ? ec.message() : std::string("No such file or directory"));
            return false;
        }
        if (!fs::is_directory(st)) {
            // A device or a FIFO never ends, or waits for a writer.
            if (!fs::is_regular_file(st)) {
                error = input + ": not a regular file";
                return false;
            }
            logs.push_back(input);
            continue;
        }
        std::vector<std::string> found;
        for (fs::recursive_directory_iterator it(input, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end; it.increment(ec))
            if (it->is_regular_file(ec) && isLogName(it->path()))
                found.push_back(it->path().string());
        if (ec) {
            error = "cannot read " + input + ": " + ec.message();
            return false;
        }
        std::sort(found.begin(), found.end());
        if (found.empty())
            std::fprintf(stderr, "klf-coverage: %s: no .KLF files\n", input.c_str());
        logs.insert(logs.end(), found.begin(), found.end());
    }
    return true;
}

volatile std::sig_atomic_t g_interrupt = 0; // the signal that asked the run to stop

void interrupted(int signal)
{
    g_interrupt = signal;
}

// Ctrl-C, TERM or HUP stops the run between two steps, so that the map is
// rolled back (or, new, taken away); a second one kills at once.
void stopOnSignals()
{
    struct sigaction action{};
    action.sa_handler = interrupted;
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // One ignored from the start (nohup, a script's background job) stays so.
        struct sigaction before{};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    }
}

unsigned long long ull(uint64_t v)
{
    return static_cast<unsigned long long>(v);
}

// The first size bytes of a file as a stream of their own: a log as far
// as an earlier run read it, however it has grown since.
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
    DriveReader reader;
    reader.setFilter(options.filter);
    std::FILE* prefix = openPrefix(log, from);
    if (!prefix) {
        summary.status = DriveSummary::Status::Unreadable;
        summary.error = std::strerror(errno);
        return false;
    }
    reader.read(prefix, earlier);
    std::fclose(prefix);
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

} // namespace

int main(int argc, char** argv)
{
    CoverageOptions options;
    std::string error;
    if (!CoverageOptions::parse(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "klf-coverage: %s\n%s", error.c_str(), CoverageOptions::usage().c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(CoverageOptions::usage().c_str(), stdout);
        return kExitOk;
    }
    if (options.version) {
        std::printf("klf-coverage %s\n", TAVRIX_VERSION);
        return kExitOk;
    }
    std::vector<std::string> logs;
    if (!collectLogs(options.inputs, logs, error)) {
        std::fprintf(stderr, "klf-coverage: %s\n", error.c_str());
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
    std::unique_ptr<CoverageStore> store;
    GpkgCoverageStore* gpkg = nullptr; // all or nothing: one transaction for the run
    PgCoverageStore* pg = nullptr;     // a transaction per log
    if (options.database.empty()) {
        auto g = std::make_unique<GpkgCoverageStore>(options.output, settings);
        gpkg = g.get();
        store = std::move(g);
        stopOnSignals();
    } else {
        auto p = std::make_unique<PgCoverageStore>(options.database, settings);
        pg = p.get();
        store = std::move(p);
    }
    // Rolls the map back, or takes a new one away, and ends as the signal
    // would have.
    const auto stop = [&store, &gpkg, &where]() {
        std::fprintf(stderr, "klf-coverage: interrupted; %s %s\n", where.c_str(),
                     gpkg && gpkg->making() ? "not made" : "left as it was");
        store.reset();
        std::signal(g_interrupt, SIG_DFL);
        std::raise(g_interrupt);
        return kExitUsage;
    };
    if (!store->open(error)) {
        std::fprintf(stderr, "klf-coverage: %s: %s\n", where.c_str(), error.c_str());
        return kExitUsage;
    }
    if (g_interrupt)
        return stop();
    if (options.rangeGiven && !(gpkg ? gpkg->making() : pg->making()))
        std::fprintf(stderr,
                     "klf-coverage: %s: --range ignored: a map keeps the style it was made with"
                     " (QGIS's layer properties change it)\n",
                     where.c_str());

    const CoverageGrid grid(options.cellMetres);
    ProgressBar bar(stderr, "klf-coverage", totalBytes, ProgressBar::wanted(stderr, totalBytes));
    uint64_t doneBytes = 0;
    int status = kExitOk;
    uint64_t added = 0, skipped = 0;
    for (const std::string& log : logs) {
        const std::string name = fs::path(log).filename().string();
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
            std::fprintf(stderr, "klf-coverage: cannot read %s: %s\n", log.c_str(), hashError.c_str());
            // The run's one transaction is given up: nothing of it is kept.
            if (gpkg)
                return kExitUsage;
            status = kExitUsage;
            continue;
        }
        bool found = false;
        if (!store->contains(sha, found, error)) {
            bar.clear();
            std::fprintf(stderr, "klf-coverage: %s: cannot tell whether %s is in it: %s\n", where.c_str(), log.c_str(),
                         error.c_str());
            if (gpkg || !pg->connected())
                return kExitUsage;
            status = kExitUsage;
            continue;
        }
        if (found) {
            bar.clear();
            std::fprintf(stderr, "klf-coverage: %s: already in the map (same SHA-256), skipped\n", log.c_str());
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
            std::fprintf(stderr, "klf-coverage: %s: cannot tell whether %s is in it: %s\n", where.c_str(), log.c_str(),
                         error.c_str());
            if (gpkg || !pg->connected())
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
            std::fprintf(stderr,
                         "klf-coverage: %s: a log of this name is in the map, and whether this is it %s cannot be"
                         " told: not added (renamed, it is added as another log)\n",
                         log.c_str(), tooShort ? "in part" : "grown");
            ++skipped;
            doneBytes += ec ? 0 : size;
            continue;
        }
        if (!known.found && known.sameName)
            std::fprintf(stderr, "klf-coverage: %s: begins otherwise than the log of this name in the map: another log\n",
                         log.c_str());
        if (known.found) {
            bar.clear();
            DriveCoverage later;
            DriveSummary summary;
            uint64_t leftOut = 0;
            doneBytes += ec ? 0 : size;
            // Read to its end already: the same again, known without a read.
            if (!ec && size == known.bytesRead) {
                std::fprintf(stderr, "klf-coverage: %s: already in the map (read to its end), skipped\n", log.c_str());
                ++skipped;
                continue;
            }
            if (!readOn(log, known.bytesRead, grid, options, later, summary, leftOut)) {
                if (summary.status == DriveSummary::Status::Unreadable) {
                    std::fprintf(stderr, "klf-coverage: cannot read %s: %s\n", log.c_str(), summary.error.c_str());
                    if (gpkg)
                        return kExitUsage;
                    status = kExitUsage;
                    continue;
                }
                if (summary.bytes < known.bytesRead) {
                    std::fprintf(stderr,
                                 "klf-coverage: %s: already in the map, which read it further (to byte %llu), skipped\n",
                                 log.c_str(), ull(known.bytesRead));
                    ++skipped;
                    continue;
                }
                std::fprintf(stderr,
                             "klf-coverage: %s: begins as a log in the map but does not go on from where the map"
                             " stopped reading it (byte %llu): changed since; nothing added\n",
                             log.c_str(), ull(known.bytesRead));
                if (status != kExitUsage)
                    status = std::max(status, kExitMalformed);
                continue;
            }
            if (g_interrupt)
                return stop();
            if (later.bytesRead == known.bytesRead) {
                std::fprintf(stderr, "klf-coverage: %s: already in the map (read to its end), skipped\n", log.c_str());
                ++skipped;
                continue;
            }
            // What the map read must be there unchanged: a record may well
            // end at the same offset in a log changed after its beginning.
            std::map<uint64_t, std::string> read;
            error.clear();
            if (!FileDigest::prefixes(log, {known.bytesRead, later.bytesRead}, read, error)
                || read.count(later.bytesRead) == 0) {
                std::fprintf(stderr, "klf-coverage: cannot read %s: %s\n", log.c_str(),
                             error.empty() ? "shorter than it was" : error.c_str());
                if (gpkg)
                    return kExitUsage;
                status = kExitUsage;
                continue;
            }
            if (read[known.bytesRead] != known.readSha256) {
                std::fprintf(stderr,
                             "klf-coverage: %s: begins as a log in the map but does not go on from where the map"
                             " stopped reading it (byte %llu): changed since; nothing added\n",
                             log.c_str(), ull(known.bytesRead));
                if (status != kExitUsage)
                    status = std::max(status, kExitMalformed);
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
            bool already = false;
            if (!store->add(std::move(later), already, error)) {
                std::fprintf(stderr, "klf-coverage: %s: adding %s failed: %s\n", where.c_str(), log.c_str(),
                             error.c_str());
                if (gpkg || !pg->connected())
                    return kExitUsage;
                status = kExitUsage;
                continue;
            }
            if (already) {
                std::fprintf(stderr, "klf-coverage: %s: already in the map (read meanwhile), skipped\n", log.c_str());
                ++skipped;
                continue;
            }
            ++added;
            std::fprintf(stderr,
                         "klf-coverage: %s: grown since it was added: bytes %llu to %llu read on; samples: %llu"
                         " placed, %llu in %llu cell rows, %llu left out\n",
                         log.c_str(), ull(known.bytesRead), ull(to), ull(placed), ull(binned), ull(cellRows),
                         ull(leftOut));
            if (!summary.whole()) {
                std::fprintf(stderr, "klf-coverage: %s: stopped: %s; added what came before\n", log.c_str(),
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
            std::fprintf(stderr, "klf-coverage: %s: %s\n", log.c_str(), summary.error.c_str());
            if (gpkg)
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
            std::fprintf(stderr, "klf-coverage: %s: stopped: %s; not a log, nothing added\n", log.c_str(),
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
                std::fprintf(stderr, "klf-coverage: cannot read %s: %s\n", log.c_str(),
                             error.empty() ? "shorter than it was" : error.c_str());
                if (gpkg)
                    return kExitUsage;
                status = kExitUsage;
                continue;
            }
            drive.logId = id[drive.logIdBytes];
            drive.readSha256 = sha;
            if (summary.bytesRead != size && (!FileDigest::prefixes(log, {summary.bytesRead}, id, error)
                                              || id.count(summary.bytesRead) == 0)) {
                std::fprintf(stderr, "klf-coverage: cannot read %s: %s\n", log.c_str(),
                             error.empty() ? "shorter than it was" : error.c_str());
                if (gpkg)
                    return kExitUsage;
                status = kExitUsage;
                continue;
            }
            if (summary.bytesRead != size)
                drive.readSha256 = id[summary.bytesRead];
        }
        bool already = false;
        const uint64_t cellRows = drive.cells.size(), placed = drive.samplesPlaced, binned = drive.samplesBinned;
        if (!store->add(std::move(drive), already, error)) {
            std::fprintf(stderr, "klf-coverage: %s: adding %s failed: %s\n", where.c_str(), log.c_str(), error.c_str());
            // In PostGIS the log's transaction is undone and the others go
            // on, unless the server is gone.
            if (gpkg || !pg->connected())
                return kExitUsage;
            status = kExitUsage;
            continue;
        }
        if (already) {
            std::fprintf(stderr, "klf-coverage: %s: already in the map (same SHA-256), skipped\n", log.c_str());
            ++skipped;
            continue;
        }
        ++added;
        std::fprintf(stderr,
                     "klf-coverage: %s: %llu records; fixes: %llu used; samples: %llu placed, %llu in %llu cell rows"
                     ", %llu left out\n",
                     log.c_str(), ull(summary.records), ull(summary.fixesUsed), ull(placed),
                     ull(binned), ull(cellRows), ull(binner.samplesLeftOut()));
        if (cellRows == 0)
            std::fprintf(stderr, "klf-coverage: %s: no cell added: %s\n", log.c_str(),
                         summary.fixesUsed == 0 ? "it holds no GPS fix to place a sample by"
                         : placed == 0          ? "no sample lies between two used fixes"
                                                : "no placed sample is of the receiver and channel chosen");
        if (!summary.whole()) {
            std::fprintf(stderr, "klf-coverage: %s: stopped: %s; added what came before\n", log.c_str(),
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
    if (gpkg && gpkg->making() && store->cellRows() == 0) {
        std::fprintf(stderr, "klf-coverage: %s: not made: %s\n", where.c_str(),
                     logs.empty() ? "no .KLF file to read" : "no cell to map");
        return status != kExitOk ? status : kExitUsage;
    }
    if (!store->finish(error)) {
        std::fprintf(stderr, "klf-coverage: %s: %s\n", where.c_str(), error.c_str());
        return kExitUsage;
    }
    std::fprintf(stderr, "klf-coverage: %s: %llu logs added, %llu skipped; %llu cell rows in the map\n", where.c_str(),
                 ull(added), ull(skipped), ull(store->cellRows()));
    return status;
}
