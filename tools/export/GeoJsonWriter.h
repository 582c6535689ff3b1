#pragma once

#include "ExportWriter.h"

// An RFC 7946 FeatureCollection: one Point feature per placed sample, the
// CSV's columns as its properties (null where unknown).
class GeoJsonWriter : public ExportWriter
{
public:
    explicit GeoJsonWriter(std::FILE* out);
    void sample(const DriveSample& s) override;
    bool finish(const DriveSummary& summary) override;

private:
    bool m_first = true;
};
