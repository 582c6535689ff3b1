#pragma once

#include "coverage/CoverageBinner.h"
#include "coverage/CoverageGrid.h"
#include "coverage/CoverageStore.h"
#include "coverage/PrefixDigest.h"
#include "drive/DriveFilter.h"
#include "drive/DriveFollower.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

// A log followed while the logger writes it, its cells sent to a shared map
// every few seconds. Each upload is one transaction of the store that also
// moves the drive's row on to where the upload reached (bytes_read and the
// SHA-256 of that much of the log), so the map's row is the truth about
// what was sent: at start, and after each reconnection, the follower asks
// the map how far it has the log and resumes there. What the map holds is
// then always one upload of the log as far as it was sent, whatever was
// killed or lost in between.
//
// A cell counts a drive once: the cells this drive reached in earlier
// uploads are kept here (and, on resuming, found again by reading the log up
// to where the map stopped), so a later upload adds their readings and
// times but not another drive.
//
// Offline the follower goes on reading and binning; what was taken waits in
// memory and goes in one transaction once the server answers. It reads only,
// and takes no lock: the logger is never slowed or refused. The log is
// finished when no one holds a flock on it any more (the logger holds one
// while it logs), or when following is stopped: the last upload then gives
// the drive the whole file's SHA-256, as a one-shot upload does, so a later
// one-shot run of the same file skips it.
class CoverageFollower
{
public:
    struct Options
    {
        double everySeconds = 10;
        std::optional<double> maxDop;
        DriveFilter filter;
        bool verbose = false; // a line per upload
    };
    static constexpr double kMaxRetrySeconds = 30;

    // store is closed; run() opens it. store outlives the follower.
    CoverageFollower(std::string path, CoverageStore& store, const CoverageGrid& grid, Options options);
    ~CoverageFollower();
    CoverageFollower(const CoverageFollower&) = delete;
    CoverageFollower& operator=(const CoverageFollower&) = delete;

    // Follows the log until it is finished or stop() is called, reporting
    // to err. Exit status as klf-coverage's: 0 all sent and whole; 1 the
    // log stopped making sense, or begins as a log of the map but is not
    // it as the map read it; 2 its last record is cut short; 3 the log
    // cannot be read, or what was taken could not be sent before stopping.
    int run(std::FILE* err);
    // Ends run() after a last upload; async-signal-safe.
    void stop();

    // The cells of a log's first bytes as an upload that read that far
    // binned them; false with the reason when they cannot be read. What a
    // grown log's later part goes on from.
    static bool readUpTo(const std::string& path, uint64_t bytes, const DriveFilter& filter, CoverageBinner& into,
                         std::string& error);

private:
    using Clock = std::chrono::steady_clock;
    using Change = DriveFollower::Change;
    class Forward;
    enum class Sent { Done, Nothing, Failed, Moved };

    // Asks the map how far it has the log and follows it from there, unless
    // that is where this follower stands; fatal when following cannot go on.
    bool resume(bool& fatal, std::string& error);
    // Follows the log from from, the cells up to there counted as sent.
    bool restart(uint64_t from, std::string& error);
    // One transaction with what was taken since the last; last: the log's
    // final upload, which gives the row the whole file's SHA-256.
    Sent upload(bool last, bool& fatal, std::string& error);
    // An upload, reconnecting and asking the map first after a failure.
    Sent attempt(bool last, bool& fatal, std::string& error);
    // The last upload of a log: retried until it goes, unless stopped.
    bool uploadLast(bool& fatal);
    int finishLog(bool stopped);
    void noteSent(Sent sent);
    void noteFailed(const std::string& error);
    void say(std::FILE* err, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    // False once stopping.
    bool waitFor(Clock::time_point until);

    const std::string m_path;
    std::string m_name; // without its folder
    CoverageStore& m_store;
    const CoverageGrid& m_grid;
    const Options m_options;

    std::unique_ptr<Forward> m_forward;
    std::unique_ptr<DriveFollower> m_drive;
    std::unique_ptr<CoverageBinner> m_binner; // what was taken since the last upload
    PrefixDigest m_digest;
    // The cells this drive has in the map already.
    std::unordered_set<CoverageCells::Key, CoverageCells::KeyHash> m_reached;
    bool m_known = false;      // the map has a row for the log
    std::string m_logId;
    uint64_t m_logIdBytes = 0;
    uint64_t m_sent = 0;       // the row's bytes_read
    std::string m_sentSha;     // and its read_sha256
    uint64_t m_sentFrom = 0;   // where the last upload began
    uint64_t m_pendingSamples = 0; // placed samples of the last upload
    std::optional<DriveCoverage::Point> m_lastPoint; // where the sent route ends
    bool m_sameName = false;     // the map has another log of this name
    bool m_stoppedEarly = false; // stopped while the log may still grow
    bool m_connected = false;
    uint64_t m_uploads = 0;
    bool m_offline = false;
    Clock::time_point m_offlineSince;
    std::FILE* m_err = stderr;

    int m_stopFd = -1;
    std::atomic<bool> m_stopping{false};
};
