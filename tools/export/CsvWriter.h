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

private:
    // The samples of one record share their time and place: format them once.
    uint64_t m_prefixRecord = UINT64_MAX;
    char m_prefix[3 * TextBuffer::kMaxNumber];
    size_t m_prefixLength = 0;
};
