#pragma once

#include "ReportOptions.h"

#include <cstdio>

// klf-report as a library call: reads the sources, tests every channel's
// tiles and writes what the options ask for. Messages go to err, the
// verdicts to out. Returns the exit status.
class ReportRun
{
public:
    static constexpr int kExitOk = DriveToolOptions::kExitOk;
    static constexpr int kExitBadInput = DriveToolOptions::kExitUsage;

    static int run(const ReportOptions& options, std::FILE* out, std::FILE* err);
};
