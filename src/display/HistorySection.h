#pragma once

#include "protocol/ReceiverSettings.h"
#include "protocol/SampleReport.h"

#include <cstdint>
#include <vector>

// A run of history rows that share their channels: a band, step, scan list or
// single channel. Rows of different sections never share a column, so a band
// change starts a new one instead of mixing channels.
struct HistorySection
{
    struct Column
    {
        int64_t channel = 0; // as the bar graph numbers it
        double mhz = 0.0;    // MHz
    };

    SampleReport::Kind kind = SampleReport::Kind::Scan;
    ReceiverSettings settings;
    std::vector<Column> columns;
    uint64_t firstRow = 0; // absolute row number

    // Holds since the last reset, per column; count 0 means nothing read.
    std::vector<int8_t> maxHold; // dBm
    std::vector<int8_t> minHold; // dBm
    std::vector<int64_t> sum;    // dBm
    std::vector<uint32_t> count;

    double average(std::size_t column) const { return count[column] ? double(sum[column]) / count[column] : 0.0; }
    void clearHolds();
};
