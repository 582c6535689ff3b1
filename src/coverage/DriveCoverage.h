#pragma once

#include "coverage/CoverageCells.h"

#include <cstdint>
#include <string>
#include <vector>

// One log's contribution to a coverage map: the row of the drives layer,
// its route and its cells.
struct DriveCoverage
{
    // A log is known by this much of its beginning: the header and the
    // first seconds of records, with fix times and readings that two logs
    // do not share, read in no time whatever the log's size. A log shorter
    // than this is known by its whole-file hash alone, as every log was
    // before: a copy cut shorter could not be told from another log.
    static constexpr uint64_t kLogIdBytes = uint64_t(4) << 10;

    struct Point
    {
        double latitude = 0;  // degrees
        double longitude = 0; // degrees
    };

    std::string fileName;     // without its folder
    std::string sha256;       // of the whole file when first added, lower-case hex
    // What the log is known by however it grows: the SHA-256 of its first
    // logIdBytes bytes (the header, with the serial number, and the first
    // records), which the logger never rewrites.
    std::string logId;
    uint64_t logIdBytes = 0;
    uint64_t bytesRead = 0;   // end of the last whole record taken, from the file's start
    std::string readSha256;   // of the file's first bytesRead bytes: a log changed within them is another
    // The part of a grown log after resumedFrom (the drive's bytesRead in
    // the map): it updates that drive instead of adding one. Its sha256,
    // when given (a followed log's last upload), becomes the drive's.
    uint64_t resumedFrom = 0;
    std::string serialNumber;
    int64_t firstMs = 0;      // UTC of the first used fix, ms since 1970-01-01
    int64_t lastMs = 0;       // of the last
    uint64_t fixesUsed = 0;
    uint64_t samplesPlaced = 0; // placed samples the filter let through
    uint64_t samplesBinned = 0; // of those, the ones in cells (known frequency, DOP within bounds)
    std::vector<Point> route;   // the used fixes in order
    CoverageCells cells;        // each with one drive
};
