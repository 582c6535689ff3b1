#pragma once

#include "ExportWriter.h"

// time,latitude,longitude,receiver,mode,channel,frequency_mhz,rssi_dbm: one
// row per placed sample. An unknown channel or frequency is an empty field.
class CsvWriter : public ExportWriter
{
public:
    explicit CsvWriter(std::FILE* out);
    void sample(const DriveSample& s) override;
    bool finish(const DriveSummary& summary) override;
};
