#pragma once

#include "ReportOptions.h"

#include <cstdio>

// klf-report as a library call: reads the sources, tests every channel's
// tiles and writes what the options ask for. Messages go to err, the
// verdicts to out. Returns the exit status.
class ReportRun
{
public:
    static constexpr int kExitOk = 0;
    static constexpr int kExitBadInput = 3;

    static int run(const ReportOptions& options, std::FILE* out, std::FILE* err);
};
