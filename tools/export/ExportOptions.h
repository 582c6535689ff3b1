#pragma once

#include "DriveToolOptions.h"
#include "protocol/RssiPalette.h"

#include <string>
#include <vector>

// The command line of klf-export: one log, the shared options and its own.
struct ExportOptions : DriveToolOptions
{
    enum class Format { Csv, GeoJson, Gpx, Kml };

    Format format = Format::Csv;
    int rangeMin = RssiPalette::kDefaultMinimum; // dBm: blue in KML
    int rangeMax = RssiPalette::kDefaultMaximum; // dBm: red
    std::string input; // the one log of inputs; "-": standard input
    std::string output = "-"; // "-": standard output

    // The filter as it was given ("--receiver 2 --channel 12"); empty: none.
    std::string filterText() const;

    // The format named by a file name's extension (.csv, .geojson or .json, .gpx, .kml).
    static bool formatOfName(const std::string& name, Format& out);
    static const char* formatName(Format format);
    static bool parse(const std::vector<std::string>& args, ExportOptions& out, std::string& error);
    static std::string usage();
};
