#pragma once

#include "ExportOptions.h"

#include <cstdio>

// klf-export as a library call: the log read through the filter and written
// in the format asked for, to the output file (replaced only once whole) or
// to out for "-". The summary and every complaint go to err. Returns the
// exit status: 0 the log is whole; 1 malformed (records with a bad checksum
// are skipped and the rest exported; after a record that cannot be placed,
// what came before is exported; an empty file has no header); 2 the last
// record cut short; 3 usage or I/O error, as klf-inspect's for the same log.
class ExportRun
{
public:
    static int run(const ExportOptions& options, std::FILE* out, std::FILE* err);
};
