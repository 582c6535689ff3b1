// klf-report: does a channel cover an area, and how sure are we. Tiles of
// the coverage grid tested against a threshold, the share that passes with
// its Wilson bounds, and the verdict, as HTML, PDF, JSON, GeoPackage and GPX.
// See klf-report --help.

#include "ReportOptions.h"
#include "ReportRun.h"

#include <cstdio>

int main(int argc, char** argv)
{
    ReportOptions options;
    std::string error;
    if (!ReportOptions::parse(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "klf-report: %s (see klf-report --help)\n", error.c_str());
        return ReportRun::kExitBadInput;
    }
    if (options.help) {
        std::fputs(ReportOptions::usage().c_str(), stdout);
        return ReportRun::kExitOk;
    }
    if (options.version) {
        std::printf("klf-report %s\n", TAVRIX_VERSION);
        return ReportRun::kExitOk;
    }
    return ReportRun::run(options, stdout, stderr);
}
