#pragma once

#include "coverage/AcceptanceReport.h"

#include <string>

// An acceptance report as the documents a customer gets: one self-contained
// HTML file (pictures inline, nothing fetched when it is opened) or an A4 PDF
// to sign. Both say the same, from the same HTML; the maps are drawn by the
// map's own renderer over tavrix-map's base map.
class ReportDocument
{
public:
    struct BaseMap
    {
        std::string mbtiles; // an MBTiles file; empty: see grid
        bool grid = false;   // true: a plain grid, no tiles; false and no mbtiles: tavrix-map's network tiles and cache
    };

    // How long a report waits for network tiles before drawing the grid where they are missing.
    static constexpr int kTileWaitMs = 5000;

    // Writes the report as HTML or PDF, by the path's extension (.html/.htm or .pdf, any case);
    // false with one line saying why. Needs a QGuiApplication (the tool makes one, offscreen).
    // An existing file at `path` is replaced only by a complete report.
    static bool write(const AcceptanceReport& report, const std::string& path, const BaseMap& base, std::string& error);
};
