#pragma once

#include "coverage/AcceptanceInput.h"
#include "coverage/AcceptanceReport.h"
#include "coverage/CoverageGrid.h"
#include "drive/DriveFilter.h"
#include "drive/DriveReader.h"

#include <cstdint>
#include <string>
#include <vector>

// Gathers an acceptance test's readings, per channel and tile, from
// coverage maps (a GeoPackage, or PostGIS as "PG:...") and from logs binned
// on the fly, with the drives they came from.
//
// A map cell counts whole in the tile that holds its centre, so tiles of the
// map's own size take its cells one for one; a tile smaller than a cell
// would split readings whose places are no longer known, and is refused.
class AcceptanceSource
{
public:
    AcceptanceSource(double tileMetres, const DriveFilter& filter, bool localMeans);

    // The cell size a coverage map was made with; false when it is none.
    static bool mapCellMetres(const std::string& source, double& metres, std::string& error);
    static bool isMap(const std::string& source);

    bool addMap(const std::string& source, std::string& error);
    // What is whole of a damaged log is used; summary says how it ended.
    bool addLog(const std::string& path, DriveSummary& summary, std::string& error);
    void setProgress(DriveReader::Progress progress) { m_progress = std::move(progress); }

    AcceptanceInput& input() { return m_input; }
    std::vector<AcceptanceReport::Drive>& drives() { return m_drives; }
    uint64_t mapCells() const { return m_mapCells; }

private:
    CoverageGrid m_grid;
    DriveFilter m_filter;
    bool m_localMeans;
    DriveReader::Progress m_progress;
    AcceptanceInput m_input;
    std::vector<AcceptanceReport::Drive> m_drives;
    uint64_t m_mapCells = 0;
};
