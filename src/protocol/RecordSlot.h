#pragma once

#include <array>
#include <cstdint>

// A packet kept whole: a 16-bit byte count and up to 8192 bytes.
struct RecordSlot
{
    static constexpr int kCapacity = 8192;
    uint16_t count = 0;
    std::array<uint8_t, kCapacity> bytes{};
};
