#pragma once

#include "TextBuffer.h"
#include "drive/DriveSink.h"
#include "drive/DriveSummary.h"

#include <cstdio>
#include <string>

// One output format: takes the drive as DriveReader hands it over and
// writes it out as it comes, in memory that does not grow with the log.
class ExportWriter : public DriveSink
{
public:
    explicit ExportWriter(std::FILE* out) : m_out(out) {}
    // Completes the document; false when writing failed.
    virtual bool finish(const DriveSummary& summary) = 0;

    static const char* modeName(SampleMode mode);

protected:
    TextBuffer m_out;
};
