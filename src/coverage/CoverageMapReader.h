#pragma once

#include "coverage/CellFigures.h"
#include "coverage/CoverageGrid.h"

#include <cstdint>
#include <string>
#include <vector>

// The cells of a coverage map as a viewer wants them: where each lies and
// its figures, for every receiver and frequency.
class CoverageMapReader
{
public:
    struct Cell
    {
        CoverageGrid::Bounds bounds; // degrees
        int64_t cellKey = 0;         // CoverageGrid::key of (row, col)
        int receiver = 1;            // 1 or 2
        double frequencyMHz = 0;
        CellFigures figures;
        int drives = 0;
    };

    // The cells layer of a GeoPackage (or any source GDAL opens); false
    // with a reason when it is not a coverage map.
    static bool read(const std::string& source, std::vector<Cell>& cells, std::string& error);
};
