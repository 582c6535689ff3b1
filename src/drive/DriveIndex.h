#pragma once

#include "drive/DriveFix.h"
#include "drive/DriveReports.h"
#include "drive/DriveSummary.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// A drive's index, built in one pass when it is opened, so that any moment
// of a long log is found without reading it again: the used fixes (time and
// place by record), and every kCheckpointRecords records the byte offset of
// the record and the receivers' state there. Reading the reports around a
// moment then starts at the checkpoint before it and reads at most
// kCheckpointRecords records more than it returns.
//
// Records are numbered as the drive model numbers them (packet records after
// the header, bad checksums included) and placed as it places samples, so a
// marker put by the index sits on the map's dots.
//
// Immutable once built: threads may share it.
class DriveIndex
{
public:
    // 4096 records are some 80 kB of scan reports, 21 s at the line rate;
    // an 8-hour log needs 1400 checkpoints of some 200 bytes each.
    static constexpr uint64_t kCheckpointRecords = 4096;
    // done and total in bytes; returning false cancels the build.
    using Progress = std::function<bool(uint64_t done, uint64_t total)>;

    struct Position
    {
        bool placed = false;  // lies between two used fixes close in time
        double latitude = 0;  // degrees
        double longitude = 0; // degrees
        int64_t timeMs = 0;   // UTC, ms since 1970-01-01
    };

    // False when cancelled or unreadable (summary() says which). A log that
    // stops making sense is indexed up to there.
    bool build(const std::string& path, const Progress& progress = {});
    // The file is read from its start, not closed.
    bool build(std::FILE* file, const Progress& progress = {});

    // Records, fixes, status and where a broken log stops; no sample counts.
    const DriveSummary& summary() const { return m_summary; }
    uint64_t records() const { return m_summary.records; }
    // The used fixes, in record order.
    const std::vector<DriveFix>& fixes() const { return m_fixes; }

    Position positionAt(uint64_t record) const;
    // The last record at or before t within the first placed stretch of the
    // drive that holds t; none where no stretch does.
    std::optional<uint64_t> recordAt(int64_t timeMs) const;
    // A time for every record, for a waterfall's clock: its placed time, else
    // the time of the used fix before it (after it, before the first); in a
    // log without a used fix, the device's clock marker before it (after it,
    // before the first), read as UTC; else 0.
    int64_t clockAt(uint64_t record) const;

    // The reports of records from .. to - 1, with their clock times, after
    // the settings in force at `from`. The file is read with pread, so
    // threads may share it. False when it cannot be read.
    bool readReports(std::FILE* file, uint64_t from, uint64_t to, std::vector<DriveReports::Report>& out) const;

    std::size_t memoryBytes() const;

private:
    struct Checkpoint
    {
        uint64_t record = 0;
        uint64_t offset = 0; // of the record's length field in the file
        DriveReports::Receivers receivers; // before the record
    };

    struct ClockTime
    {
        uint64_t record = 0;
        int64_t timeMs = 0; // the device's clock, read as UTC
    };

    DriveSummary m_summary;
    std::vector<DriveFix> m_fixes;
    std::vector<ClockTime> m_clocks; // in record order
    // The first at record 0, the last at records() (where the whole records end).
    std::vector<Checkpoint> m_checkpoints;
};
