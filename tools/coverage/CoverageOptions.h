#pragma once

#include "drive/DriveFilter.h"
#include "protocol/RssiPalette.h"

#include <optional>
#include <string>
#include <vector>

// The command line of klf-coverage.
struct CoverageOptions
{
    double cellMetres = 50;
    DriveFilter filter;
    std::optional<double> maxDop;
    int rangeMin = RssiPalette::kDefaultMinimum; // dBm: blue in the stored style
    int rangeMax = RssiPalette::kDefaultMaximum; // dBm: red
    bool rangeGiven = false; // a map being made takes it; an existing one keeps its own
    std::string output = "coverage.gpkg";
    std::string database; // "PG:..." when the map is in PostGIS
    std::vector<std::string> inputs; // logs and folders of logs
    bool help = false;
    bool version = false;

    static bool parse(const std::vector<std::string>& args, CoverageOptions& out, std::string& error);
    static std::string usage();
};
