#pragma once

#include "protocol/ReceiverSettings.h"
#include "protocol/SampleReport.h"

#include <cstdint>
#include <deque>
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

    // Where each column was last read before row `row`, kept every
    // ScanHistory::kCheckpointRows rows, so that a row's level is found
    // without walking back to the section's start.
    static constexpr uint64_t kNeverRead = UINT64_MAX;
    struct Checkpoint
    {
        uint64_t row = 0;              // absolute row number
        std::vector<uint64_t> lastRead; // per column: absolute row, or kNeverRead
    };
    std::deque<Checkpoint> checkpoints; // oldest first, each after the oldest row kept
    std::vector<uint64_t> lastRead;     // after the newest row; newest section only

    // The newest checkpoint at or before row n, or null.
    const Checkpoint* checkpointFor(uint64_t n) const;

    double average(std::size_t column) const { return count[column] ? double(sum[column]) / count[column] : 0.0; }
    void clearHolds();
};
