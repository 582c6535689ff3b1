#pragma once

#include "CoverageOptions.h"

#include <cstdio>

// klf-coverage as a library call: the logs binned into the map the options
// name, a GeoPackage (one transaction for the run: a run that fails or is
// interrupted leaves it as it was, and a new one not at all) or a PostGIS
// database (a transaction per log). The summary and every complaint go to
// err; nothing goes to standard output. Returns the exit status: 0 every log
// was whole; 1 a log is malformed, 2 cut off (what was whole is added, and
// where it stopped is said), as klf-export's; 3 usage or I/O error.
//
// While a GeoPackage run lasts, Ctrl-C, TERM and HUP stop it between two
// steps; the map is rolled back and the process ends as the signal would have.
class CoverageRun
{
public:
    static int run(const CoverageOptions& options, std::FILE* out, std::FILE* err);
};
