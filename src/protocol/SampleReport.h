#pragma once

#include "protocol/ReceiverSettings.h"

#include <array>
#include <cstdint>
#include <optional>

// One measurement report as it reached one receiver, or the settings that
// name the channels of the reports after it. The decoder writes these in the
// order it decodes, so a history can tell which band each report belongs to
// even when the band changes between two display updates.
struct SampleReport
{
    enum class Kind : uint8_t { Single, Scan, Table, Settings };
    static constexpr int kMaxEntries = 5;

    struct Entry
    {
        uint16_t index = 0; // scan slot, table index (channel - 1), or 0 for a single block
        int8_t dBm = 0;     // dBm
    };

    Kind kind = Kind::Scan;
    uint8_t count = 0;
    int64_t utcMs = 0; // ms since 1970-01-01 UTC, when decoded
    std::array<Entry, kMaxEntries> entries{};
    // Kind::Settings only: the receiver's settings from this point on.
    std::optional<ReceiverSettings> settings;
};
