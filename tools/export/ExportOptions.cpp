#include "ExportOptions.h"

#include "gps/MapBlock.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

bool formatOfWord(const std::string& word, ExportOptions::Format& out)
{
    if (word == "csv")
        out = ExportOptions::Format::Csv;
    else if (word == "geojson")
        out = ExportOptions::Format::GeoJson;
    else if (word == "gpx")
        out = ExportOptions::Format::Gpx;
    else if (word == "kml")
        out = ExportOptions::Format::Kml;
    else
        return false;
    return true;
}

} // namespace

bool ExportOptions::formatOfName(const std::string& name, Format& out)
{
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || name.find('/', dot) != std::string::npos)
        return false;
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (ext == "json")
        ext = "geojson";
    return formatOfWord(ext, out);
}

const char* ExportOptions::formatName(Format format)
{
    switch (format) {
    case Format::Csv: return "csv";
    case Format::GeoJson: return "geojson";
    case Format::Gpx: return "gpx";
    case Format::Kml: return "kml";
    }
    return "";
}

std::string ExportOptions::usage()
{
    return "usage: klf-export [--format csv|gpx|kml|geojson] [--receiver 1|2|both]\n"
           "                  [--frequency MHZ | --channel N] [--range MIN,MAX] [-o OUT] [--] FILE.KLF\n"
           "  --format F        csv, gpx, kml or geojson; without it, from OUT's extension, else csv\n"
           "  --receiver R      1, 2 or both (default both)\n"
           "  --frequency MHZ   only samples at this frequency (within 0.5 kHz)\n"
           "  --channel N       only samples on this channel number\n"
           "  --range MIN,MAX   KML colour range in whole dBm from -150 to 0, MIN below MAX,\n"
           "                    blue at MIN to red at MAX (default -120,-50)\n"
           "  -o OUT            output file, replaced only once it is whole; - or none: standard output\n"
           "  -h, --help        this text\n"
           "  --version         print the version and exit\n"
           "  --                what follows is the log, even a name starting with -\n"
           "A summary goes to standard error. Exit status, as klf-inspect gives it for the same log:\n"
           "  0 the log is whole; 1 malformed (records with a bad checksum skipped, or the log stops\n"
           "  making sense: what came before is exported; an empty file has no header); 2 the last\n"
           "  record is cut short (what is whole is exported); 3 usage or I/O error.\n";
}

std::string ExportOptions::filterText() const
{
    std::string text;
    auto add = [&text](const std::string& part) { text += (text.empty() ? "" : " ") + part; };
    if (filter.receiver)
        add("--receiver " + std::to_string(*filter.receiver + 1));
    if (filter.frequencyMHz) {
        char mhz[32];
        std::snprintf(mhz, sizeof mhz, "%.6g", *filter.frequencyMHz);
        add(std::string("--frequency ") + mhz);
    }
    if (filter.channel)
        add("--channel " + std::to_string(*filter.channel));
    return text;
}

bool ExportOptions::parse(const std::vector<std::string>& args, ExportOptions& o, std::string& error)
{
    bool formatGiven = false;
    Own own;
    own.valued = {"--format", "--range", "-o", "--output"};
    own.take = [&o, &formatGiven](const std::string& a, const std::string* v, std::string& refusal) {
        if (a == "--format") {
            formatGiven = true;
            return formatOfWord(*v, o.format);
        }
        if (a == "--range") {
            // The logger's range dialog's limits, so a range that works there works here.
            if (DriveFilter::parseRange(*v, MapBlock::kRangeLowest, MapBlock::kRangeHighest, o.rangeMin, o.rangeMax))
                return true;
            refusal = "bad value for --range: " + *v + " (whole dBm from " + std::to_string(MapBlock::kRangeLowest)
                      + " to " + std::to_string(MapBlock::kRangeHighest) + ", MIN below MAX)";
            return false;
        }
        o.output = *v;
        return !v->empty();
    };
    own.check = [&o, &formatGiven](std::string& why) {
        if (!o.named("no log named", why))
            return false;
        if (o.inputs.size() > 1) {
            why = "one log at a time: " + o.inputs[1];
            return false;
        }
        o.input = o.inputs.front();
        if (!o.filterConsistent(why))
            return false;
        if (!formatGiven && o.output != "-")
            formatOfName(o.output, o.format);
        return true;
    };
    return o.parseArgs(args, own, error);
}
