#pragma once

#include "coverage/CellFigures.h"
#include "coverage/CoverageGrid.h"

#include <cstdint>
#include <functional>
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
        int64_t firstMs = 0, lastMs = 0; // ms since 1970 UTC of its first and last sample; 0 when not stored
    };

    // Told the cells read so far and the cells the layer holds (0 when the
    // source cannot say without counting); false stops the read.
    using Progress = std::function<bool(uint64_t done, uint64_t total)>;

    // The cells layer of a GeoPackage (or any source GDAL opens); false
    // with a reason when it is not a coverage map or the read was stopped.
    static bool read(const std::string& source, std::vector<Cell>& cells, std::string& error,
                     const Progress& progress = {});
};
