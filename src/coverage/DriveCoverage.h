#pragma once

#include "coverage/CoverageCells.h"

#include <cstdint>
#include <string>
#include <vector>

// One log's contribution to a coverage map: the row of the drives layer,
// its route and its cells.
struct DriveCoverage
{
    struct Point
    {
        double latitude = 0;  // degrees
        double longitude = 0; // degrees
    };

    std::string fileName;     // without its folder
    std::string sha256;       // of the whole file, lower-case hex
    std::string serialNumber;
    int64_t firstMs = 0;      // UTC of the first used fix, ms since 1970-01-01
    int64_t lastMs = 0;       // of the last
    uint64_t fixesUsed = 0;
    uint64_t samplesPlaced = 0; // placed samples the filter let through
    uint64_t samplesBinned = 0; // of those, the ones in cells (known frequency, DOP within bounds)
    std::vector<Point> route;   // the used fixes in order
    CoverageCells cells;        // each with one drive
};
