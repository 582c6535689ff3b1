#pragma once

#include "ExportWriter.h"
#include "PeakSinceFix.h"

#include <string>

// GPX 1.1: one track, one trkpt per used fix (time, elevation from the MSL
// height, fix kind, satellites), carrying in its extensions the strongest
// RSSI of the chosen samples placed since the previous fix and its receiver.
class GpxWriter : public ExportWriter
{
public:
    static constexpr const char* kNamespace = "urn:x-tavrix:klf-export:1";

    GpxWriter(std::FILE* out, const std::string& name);
    void fix(const DriveFix& f) override;
    void sample(const DriveSample& s) override { m_peaks.add(s); }
    bool finish(const DriveSummary& summary) override;

private:
    PeakSinceFix m_peaks;
};
