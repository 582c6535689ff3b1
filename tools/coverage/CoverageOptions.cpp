#include "CoverageOptions.h"

#include "coverage/CoverageGrid.h"
#include "gps/MapBlock.h"

#include <charconv>
#include <cmath>

namespace {

bool realNumber(const std::string& text, double& out)
{
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, out);
    return !text.empty() && r.ec == std::errc() && r.ptr == end && std::isfinite(out);
}

} // namespace

std::string CoverageOptions::usage()
{
    return "usage: klf-coverage [--cell METRES] [--receiver 1|2|both] [--channel N | --frequency MHZ]\n"
           "                    [--max-dop D] [--range MIN,MAX] [-o OUT.gpkg | --db PG:CONNINFO]\n"
           "                    [--] FILE.KLF|FOLDER...\n"
           "       klf-coverage --follow [--every SECONDS] [-v] [--cell ...] [filters] --db PG:CONNINFO FILE.KLF\n"
           "  --cell METRES     cell size on the ground, 10 to 1000 m (default 50)\n"
           "  --receiver R      1, 2 or both (default both)\n"
           "  --channel N       only samples on this channel number\n"
           "  --frequency MHZ   only samples at this frequency (within 0.5 kHz)\n"
           "  --max-dop D       leave out samples between fixes whose DOP exceeds D\n"
           "  --range MIN,MAX   style colours in whole dBm from -150 to 0, blue at MIN to red at MAX\n"
           "                    (default -120,-50); a map keeps those it was made with\n"
           "  -o OUT.gpkg       the GeoPackage to make or add to (default coverage.gpkg)\n"
           "  --db PG:CONNINFO  a PostgreSQL database with PostGIS instead of a GeoPackage\n"
           "  --follow          follow the one log named while the logger writes it, uploading its new\n"
           "                    cells to the database as it grows, until the logger closes it or Ctrl-C\n"
           "  --every SECONDS   between two uploads while following (default 10)\n"
           "  -v, --verbose     while following, a line per upload\n"
           "  -h, --help        this text\n"
           "  --version         print the version and exit\n"
           "  --                what follows are logs and folders, even names starting with -\n"
           "A folder stands for the .KLF files in it and its subfolders. A log already in the map\n"
           "(same SHA-256) is skipped. A summary goes to standard error. Exit status, as klf-export's:\n"
           "  0 every log was whole; 1 a log is malformed (what came before is added); 2 a log's last\n"
           "  record is cut short (what is whole is added); 3 usage or I/O error.\n"
           "Following, each upload is one transaction that records how far into the log it read; a\n"
           "restart goes on from there. While the server cannot be reached the log is still read, and\n"
           "what waits is sent in one upload when it answers again (said on standard error). Stopped\n"
           "with Ctrl-C or TERM it sends what is whole and exits 0; 3 if that could not be sent.\n";
}

bool CoverageOptions::parse(const std::vector<std::string>& args, CoverageOptions& o, std::string& error)
{
    bool outputGiven = false;
    Own own;
    bool everyGiven = false;
    own.flags = {"--follow", "-v", "--verbose"};
    own.valued = {"--cell", "--max-dop", "--range", "-o", "--output", "--db", "--every"};
    own.take = [&o, &outputGiven, &everyGiven](const std::string& a, const std::string* v, std::string&) {
        if (a == "--follow") {
            o.follow = true;
            return true;
        }
        if (a == "-v" || a == "--verbose") {
            o.verbose = true;
            return true;
        }
        if (a == "--every") {
            everyGiven = true;
            // A day at most: a longer wait would overflow no clock but help no one.
            return realNumber(*v, o.everySeconds) && o.everySeconds >= 0.01 && o.everySeconds <= 86400;
        }
        if (a == "--cell")
            return realNumber(*v, o.cellMetres) && o.cellMetres >= CoverageGrid::kMinMetres
                   && o.cellMetres <= CoverageGrid::kMaxMetres;
        if (a == "--max-dop") {
            double d = 0;
            const bool ok = realNumber(*v, d) && d > 0;
            o.maxDop = d;
            return ok;
        }
        if (a == "--range") {
            // The same limits as the logger's range dialog and klf-export.
            o.rangeGiven = true;
            return DriveFilter::parseRange(*v, MapBlock::kRangeLowest, MapBlock::kRangeHighest, o.rangeMin, o.rangeMax);
        }
        if (a == "--db") {
            o.database = *v;
            return v->rfind("PG:", 0) == 0;
        }
        o.output = *v;
        outputGiven = true;
        return !v->empty();
    };
    own.check = [&o, &outputGiven, &everyGiven](std::string& why) {
        if (!o.named("no log named", why) || !o.filterConsistent(why))
            return false;
        if (outputGiven && !o.database.empty()) {
            why = "-o and --db exclude each other";
            return false;
        }
        if (everyGiven && !o.follow) {
            why = "--every goes with --follow";
            return false;
        }
        if (o.follow && outputGiven) {
            why = "--follow uploads to a database (--db PG:...), not to a GeoPackage (-o)";
            return false;
        }
        if (o.follow && o.database.empty()) {
            why = "--follow needs --db PG:CONNINFO";
            return false;
        }
        if (o.follow && o.inputs.size() != 1) {
            why = "--follow follows one log";
            return false;
        }
        return true;
    };
    return o.parseArgs(args, own, error);
}
