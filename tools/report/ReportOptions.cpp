#include "ReportOptions.h"

#include "coverage/AcceptanceStatistics.h"
#include "coverage/CoverageGrid.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>

namespace {

bool realNumber(const std::string& text, double& out)
{
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, out);
    return !text.empty() && r.ec == std::errc() && r.ptr == end && std::isfinite(out);
}

bool wholeNumber(const std::string& text, uint64_t& out)
{
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, out);
    return !text.empty() && r.ec == std::errc() && r.ptr == end;
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

} // namespace

std::string ReportOptions::usage()
{
    return "usage: klf-report --threshold DBM [--area FILE] [--reliability PCT] [--confidence PCT]\n"
           "                  [--tile METRES] [--estimator median|p10|lee] [--min-samples N]\n"
           "                  [--receiver 1|2|both] [--channel N | --frequency MHZ]\n"
           "                  [-o REPORT.html|REPORT.pdf] [--json OUT.json] [--tiles-out TILES.gpkg]\n"
           "                  [--next NEXT.gpx] [--mbtiles FILE | --grid] [--] SOURCE...\n"
           "  --threshold DBM    a tile passes when its value is at least this, -150 to 0 dBm\n"
           "  --area FILE        the service area: polygons in any vector file GDAL reads\n"
           "                     (default: the driven tiles, which claims nothing of undriven ground)\n"
           "  --reliability PCT  the share of tiles that must pass, 1 to 99.9 % (default 95)\n"
           "  --confidence PCT   one-sided confidence of the verdict, 50 to 99.9 % (default 90)\n"
           "  --tile METRES      tile size, 10 to 1000 m (default: the map's cell size; from logs 100)\n"
           "  --estimator E      a tile's value: median of its samples (default), p10 (10th\n"
           "                     percentile) or lee (median of Lee local means; logs only)\n"
           "  --min-samples N    samples a tile needs to be tested (default 36)\n"
           "  --receiver R       1 or 2; both pools the two receivers (default: one section each)\n"
           "  --channel N        only this channel number (logs only)\n"
           "  --frequency MHZ    only this frequency (within 0.5 kHz)\n"
           "  -o REPORT          the report, HTML (one self-contained file) or PDF (A4)\n"
           "  --json OUT.json    every figure for scripts\n"
           "  --tiles-out GPKG   the tiles as polygons, and the untested tiles' centres, for QGIS\n"
           "  --next NEXT.gpx    the untested tiles' centres as GPX waypoints\n"
           "  --mbtiles FILE     the report map's base tiles from an MBTiles file\n"
           "  --grid             a plain grid under the report map, no tiles\n"
           "  -h, --help         this text\n"
           "  --version          print the version and exit\n"
           "A SOURCE is a coverage map (.gpkg), a PostGIS database (PG:...), or .KLF logs and\n"
           "folders of them (binned at the tile size). The verdict of each section goes to standard\n"
           "output. Exit status: 0 the report was made; 3 usage, input or I/O error (nothing written).\n";
}

bool ReportOptions::isAcceptanceOption(const std::string& option)
{
    return option == "--area" || option == "--threshold" || option == "--reliability" || option == "--confidence"
           || option == "--tile" || option == "--min-samples";
}

bool ReportOptions::takeAcceptanceOption(const std::string& a, const std::string& v, ReportOptions& o,
                                         std::string& refusal)
{
    bool ok = !v.empty();
    std::string range;
    double d = 0;
    if (a == "--area") {
        o.area = v;
    } else if (a == "--threshold") {
        ok = realNumber(v, d) && d >= -150 && d <= 0;
        o.threshold = d;
        range = "-150 to 0 dBm";
    } else if (a == "--reliability") {
        ok = realNumber(v, o.reliability) && o.reliability >= 1 && o.reliability <= 99.9;
        range = "1 to 99.9 %";
    } else if (a == "--confidence") {
        ok = realNumber(v, o.confidence) && o.confidence >= 50 && o.confidence <= 99.9;
        range = "50 to 99.9 %";
    } else if (a == "--tile") {
        ok = realNumber(v, d) && d >= CoverageGrid::kMinMetres && d <= CoverageGrid::kMaxMetres;
        o.tileMetres = d;
        range = "10 to 1000 m";
    } else if (a == "--min-samples") {
        ok = wholeNumber(v, o.minSamples) && o.minSamples >= 1;
        range = "1 or more";
    } else {
        ok = false;
    }
    if (!ok)
        refusal = "bad value for " + a + ": " + v + (range.empty() ? "" : " (" + range + ")");
    return ok;
}

AcceptanceTiler::Settings ReportOptions::tilerSettings(double tileMetres) const
{
    AcceptanceTiler::Settings s;
    s.tileMetres = tileMetres;
    s.thresholdDbm = threshold.value_or(s.thresholdDbm);
    s.minSamples = minSamples;
    s.estimator = estimator;
    s.requiredReliability = reliability / 100;
    s.z = AcceptanceStatistics::normalQuantile(confidence / 100);
    return s;
}

bool ReportOptions::parse(const std::vector<std::string>& args, ReportOptions& o, std::string& error)
{
    Own own;
    own.flags = {"--grid"};
    own.valued = {"--area", "--threshold", "--reliability", "--confidence", "--tile", "--estimator", "--min-samples",
                  "--receiver", "-o", "--output", "--json", "--tiles-out", "--next", "--mbtiles"};
    own.take = [&o](const std::string& a, const std::string* value, std::string& refusal) {
        if (!value) { // --grid
            o.grid = true;
            return true;
        }
        const std::string& v = *value;
        if (isAcceptanceOption(a))
            return takeAcceptanceOption(a, v, o, refusal);
        bool ok = !v.empty();
        std::string range;
        if (a == "--estimator") {
            const std::string e = lower(v);
            ok = e == "median" || e == "p10" || e == "lee";
            o.estimator = e == "p10" ? AcceptanceReport::Estimator::P10
                          : e == "lee" ? AcceptanceReport::Estimator::Lee
                                       : AcceptanceReport::Estimator::Median;
            range = "median, p10 or lee";
        } else if (a == "--receiver") {
            o.poolReceivers = lower(v) == "both";
            ok = o.poolReceivers || o.filter.setOption(a, v);
            range = "1, 2 or both";
        } else if (a == "-o" || a == "--output") {
            const std::string ext = lower(std::filesystem::path(v).extension().string());
            ok = ext == ".html" || ext == ".htm" || ext == ".pdf";
            o.output = v;
            range = "a file ending in .html or .pdf";
        } else if (a == "--json") {
            o.json = v;
        } else if (a == "--tiles-out") {
            o.tilesOut = v;
        } else if (a == "--next") {
            o.next = v;
        } else if (a == "--mbtiles") {
            o.mbtiles = v;
        }
        if (!ok)
            refusal = "bad value for " + a + ": " + v + (range.empty() ? "" : " (" + range + ")");
        return ok;
    };
    own.check = [&o](std::string& why) {
        if (!o.threshold) {
            why = "--threshold is needed: the level, in dBm, that a tile must reach";
            return false;
        }
        if (!o.named("no source named: a coverage map, a PG: database, or logs", why) || !o.filterConsistent(why))
            return false;
        if (!o.mbtiles.empty() && o.grid) {
            why = "--mbtiles and --grid exclude each other";
            return false;
        }
        return true;
    };
    return o.parseArgs(args, own, error);
}
