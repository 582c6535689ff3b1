#pragma once

#include "DriveToolOptions.h"
#include "protocol/RssiPalette.h"

#include <optional>
#include <string>
#include <vector>

// The command line of klf-coverage: the shared options (inputs are logs and
// folders of logs) and its own.
struct CoverageOptions : DriveToolOptions
{
    double cellMetres = 50;
    std::optional<double> maxDop;
    int rangeMin = RssiPalette::kDefaultMinimum; // dBm: blue in the stored style
    int rangeMax = RssiPalette::kDefaultMaximum; // dBm: red
    bool rangeGiven = false; // a map being made takes it; an existing one keeps its own
    std::string output = "coverage.gpkg";
    std::string database; // "PG:..." when the map is in PostGIS
    bool follow = false;  // the one log followed as the logger writes it, uploaded as it grows
    double everySeconds = 10; // between two uploads while following
    bool verbose = false; // a line per upload

    static bool parse(const std::vector<std::string>& args, CoverageOptions& out, std::string& error);
    static std::string usage();
};
