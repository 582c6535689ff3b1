#pragma once

#include <array>
#include <cstdint>

// One receiver's sample data as the display draws them: a copy taken under
// the receiver's sample lock, so the decoder may go on storing meanwhile.
struct ReceiverSamples
{
    static constexpr int kScanSlots = 10;
    static constexpr int kTableSize = 3072;

    int16_t singleAverage = -120;         // dBm
    std::array<int8_t, kScanSlots> scanRssi{};  // dBm
    std::array<int8_t, kTableSize> tableRssi{}; // dBm, index = channel - 1; 0 = never received
};
