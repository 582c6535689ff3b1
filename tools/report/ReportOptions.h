#pragma once

#include "coverage/AcceptanceReport.h"
#include "coverage/AcceptanceTiler.h"
#include "DriveToolOptions.h"

#include <optional>
#include <string>
#include <vector>

// The command line of klf-report: the shared options (inputs are coverage
// maps, PG: databases, logs and folders of logs) and its own. Its filter
// takes receiver 1 or 2; --receiver both pools them instead.
struct ReportOptions : DriveToolOptions
{
    std::string area;                 // polygons; empty: the driven tiles
    std::optional<double> threshold;  // dBm, -150..0; required
    double reliability = 95;          // %, the area reliability required
    double confidence = 90;           // %, one-sided
    std::optional<double> tileMetres; // none: the map's cell size, or 100 m from logs
    AcceptanceReport::Estimator estimator = AcceptanceReport::Estimator::Median;
    uint64_t minSamples = 36;
    bool poolReceivers = false; // --receiver both: one test of both receivers' readings
    std::string output;       // REPORT.html or REPORT.pdf
    std::string json;
    std::string tilesOut;
    std::string next;         // GPX
    std::string mbtiles;
    bool grid = false;

    static bool parse(const std::vector<std::string>& args, ReportOptions& out, std::string& error);
    // The options of the test itself (--area, --threshold, --reliability,
    // --confidence, --tile, --min-samples), which tavrix-map --follow takes
    // too: false with the refusal for a value out of range.
    static bool isAcceptanceOption(const std::string& option);
    static bool takeAcceptanceOption(const std::string& option, const std::string& value, ReportOptions& out,
                                     std::string& refusal);
    // How the tiles are judged, at the tile size in use.
    AcceptanceTiler::Settings tilerSettings(double tileMetres) const;
    static std::string usage();
};
