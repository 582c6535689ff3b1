#pragma once

#include "ExportWriter.h"

#include <vector>

// time,latitude,longitude,receiver,mode,channel,frequency_mhz,rssi_dbm: one
// row per placed sample. An unknown channel or frequency is an empty field.
class CsvWriter : public ExportWriter
{
public:
    explicit CsvWriter(std::FILE* out);
    void sample(const DriveSample& s) override;
    bool finish(const DriveSummary& summary) override;

private:
    // "1,scan,12,851.0125," for one receiver, mode, channel and frequency.
    struct Fields
    {
        uint64_t frequencyBits = 0;
        int channel = 0;
        uint8_t receiver = 0;
        SampleMode mode = SampleMode::Single;
        bool valid = false;
        uint8_t length = 0;
        char text[24 + TextBuffer::kMaxNumber] = {};
    };
    static constexpr size_t kFieldSlots = 256;

    const Fields& fieldsOf(const DriveSample& s);

    // The samples of one record share their time and place: format them once.
    uint64_t m_prefixRecord = UINT64_MAX;
    char m_prefix[3 * TextBuffer::kMaxNumber] = {};
    size_t m_prefixLength = 0;
    // A drive repeats a few dozen channels millions of times; formatting a
    // frequency costs more than the rest of its row, so each combination is
    // formatted once and kept, direct-mapped by a hash of it.
    std::vector<Fields> m_fields;
    // Every RSSI with its newline, by its byte; the length in the last byte.
    char m_rssi[256][8];
};
