#pragma once

#include "protocol/SampleReport.h"

#include <array>
#include <cstdint>

// One report in the history: 24 bytes, so 30 minutes at the line rate stay
// within a few megabytes. Columns index the row's section.
struct HistoryRow
{
    int64_t utcMs = 0; // ms since 1970-01-01 UTC
    std::array<uint16_t, SampleReport::kMaxEntries> column{};
    std::array<int8_t, SampleReport::kMaxEntries> dBm{}; // dBm
    uint8_t count = 0;
};

static_assert(sizeof(HistoryRow) == 24);
