#pragma once

#include "coverage/CellFigures.h"

// The layers and fields of a coverage map, the same in a GeoPackage and in
// PostGIS, so that a map reads alike from either.
namespace CoverageLayers {
inline constexpr const char* kCells = "cells";
inline constexpr const char* kDrives = "drives";
inline constexpr const char* kRoutes = "routes";
// A view of each cell's strongest row, by median: the cells as one reads them.
inline constexpr const char* kBest = "best";
inline constexpr const char* kGrid = "coverage_grid";
// Which grid the rows and columns count in; a later grid gets a new name.
inline constexpr const char* kGridName = "tavrix-meridian-rows-1";
} // namespace CoverageLayers
