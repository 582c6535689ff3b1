#pragma once

// Acceptance reports built by hand for the report writer's tests: real grid
// tiles near 52.2° N 0.1° E, in an area with a hole, from two drives.
#include "coverage/AcceptanceReport.h"
#include "coverage/CoverageGrid.h"

#include <algorithm>
#include <cmath>

namespace reportfixture {

constexpr int kRows = 8;
constexpr int kColumns = 12;
constexpr double kTileMetres = 100;

// Columns west of kFirstFailed pass, those east of it fail; the two middle
// columns are untested (even rows) or not driven (odd rows); the hole in the
// area's middle leaves out rows 3-4 of columns 5-6 altogether.
constexpr int kFirstUntested = 5;
constexpr int kFirstFailed = 7;

inline bool inHole(int row, int column)
{
    return row >= 3 && row <= 4 && column >= 5 && column <= 6;
}

// The expected state of the tile at (row, column) of the block.
inline AcceptanceTile::State stateAt(int row, int column)
{
    if (column < kFirstUntested)
        return AcceptanceTile::State::Passed;
    if (column >= kFirstFailed)
        return AcceptanceTile::State::Failed;
    return row % 2 == 0 ? AcceptanceTile::State::Untested : AcceptanceTile::State::NotDriven;
}

// Rows hold different numbers of columns, so a column number means another
// longitude in each row: the block's columns start at the origin's longitude.
inline CoverageGrid::Cell cellAt(const CoverageGrid& grid, CoverageGrid::Cell origin, int row, int column)
{
    const int32_t r = origin.row + row;
    const double latitude = (grid.rowSouth(r) + grid.rowSouth(r + 1)) / 2;
    const auto start = grid.bounds(origin);
    CoverageGrid::Cell cell = grid.cellOf(latitude, (start.west + start.east) / 2);
    cell.column += column;
    return cell;
}

inline AcceptanceSection section(int receiver, double mhz, int channel, int extraFailed = 0)
{
    const CoverageGrid grid(kTileMetres);
    const CoverageGrid::Cell origin = grid.cellOf(52.2, 0.1);
    AcceptanceSection s;
    s.receiver = receiver;
    s.frequencyMHz = mhz;
    s.channel = channel;
    AcceptanceFigures& f = s.figures;
    auto add = [&](CoverageGrid::Cell cell, AcceptanceTile::State state, double value) {
        AcceptanceTile t;
        t.key = CoverageGrid::key(cell);
        t.bounds = grid.bounds(cell);
        t.latitude = (t.bounds.north + t.bounds.south) / 2;
        t.longitude = (t.bounds.east + t.bounds.west) / 2;
        t.state = state;
        t.samples = state == AcceptanceTile::State::NotDriven ? 0 : state == AcceptanceTile::State::Untested ? 12 : 80;
        t.valueDbm = value;
        s.tiles.push_back(t);
        ++f.tilesInArea;
        f.tilesTested += t.tested();
        f.tilesPassed += state == AcceptanceTile::State::Passed;
        f.tilesUntested += !t.tested();
        f.tilesNotDriven += state == AcceptanceTile::State::NotDriven;
    };
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c)
            if (!inHole(r, c)) {
                const auto state = stateAt(r, c);
                add(cellAt(grid, origin, r, c), state,
                    state == AcceptanceTile::State::Passed ? -70.0 - (r * 3 + c) % 17 : -96.0 - (r + c * 2) % 9);
            }
    // Failed tiles beyond the block, north of it, for sections that need many.
    for (int i = 0; i < extraFailed; ++i)
        add(cellAt(grid, origin, kRows + 1 + i / kColumns, i % kColumns), AcceptanceTile::State::Failed,
            -101.0 - i % 5);
    f.reliability = f.tilesTested ? double(f.tilesPassed) / double(f.tilesTested) : 0;
    f.lowerBound = std::max(0.0, f.reliability - 0.08);
    f.upperBound = std::min(1.0, f.reliability + 0.08);
    f.verdict = f.upperBound < 0.95 ? AcceptanceFigures::Verdict::Fail : AcceptanceFigures::Verdict::Inconclusive;
    return s;
}

// The area: a rectangle round every tile of the block, with a hole that
// holds the centres of the left-out tiles and no other.
inline AcceptanceArea area()
{
    const CoverageGrid grid(kTileMetres);
    const CoverageGrid::Cell origin = grid.cellOf(52.2, 0.1);
    CoverageGrid::Bounds outer{90, -90, 180, -180};
    CoverageGrid::Bounds hole{90, -90, 180, -180}; // of the left-out centres
    double height = 0, width = 0;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c) {
            const auto b = grid.bounds(cellAt(grid, origin, r, c));
            outer = {std::min(outer.south, b.south), std::max(outer.north, b.north), std::min(outer.west, b.west),
                     std::max(outer.east, b.east)};
            height = b.north - b.south;
            width = b.east - b.west;
            if (inHole(r, c)) {
                const double lat = (b.north + b.south) / 2, lon = (b.east + b.west) / 2;
                hole = {std::min(hole.south, lat), std::max(hole.north, lat), std::min(hole.west, lon),
                        std::max(hole.east, lon)};
            }
        }
    AcceptanceArea::Polygon p;
    p.exterior = {{outer.south, outer.west}, {outer.south, outer.east}, {outer.north, outer.east}, {outer.north, outer.west}};
    const double dy = height / 4, dx = width / 4;
    p.holes.push_back({{hole.south - dy, hole.west - dx}, {hole.north + dy, hole.west - dx},
                       {hole.north + dy, hole.east + dx}, {hole.south - dy, hole.east + dx}});
    AcceptanceArea a;
    a.setPolygons({p});
    return a;
}

inline AcceptanceReport report(int sections = 1, bool withArea = true)
{
    AcceptanceReport r;
    r.thresholdDbm = -95;
    r.requiredReliability = 0.95;
    r.confidence = 0.90;
    r.z = 1.2816;
    r.tileMetres = kTileMetres;
    r.minSamples = 36;
    if (withArea) {
        r.areaFile = "service-area.gpkg";
        r.area = area();
    }
    r.sources = {"monday.KLF", "tuesday.KLF"};
    r.createdUtc = "2026-03-04T10:20:30Z";
    r.drives = {{"monday.KLF", std::string(64, 'a'), "TVX-00417", 1772600000000, 1772603600000, 41250, 51234},
                {"tuesday.KLF", std::string(64, 'b'), "TVX-00417", 1772690000000, 1772692000000, 12800, 17002}};
    for (int i = 0; i < sections; ++i)
        r.sections.push_back(section(1 + i % 2, 446.00625 + 0.0125 * i, 3 + i, i == 2 ? 60 : 0));
    return r;
}

} // namespace reportfixture
