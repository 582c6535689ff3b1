#pragma once

#include "coverage/AcceptanceReport.h"
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
    static std::string usage();
};
