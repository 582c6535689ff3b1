#pragma once

#include <array>
#include <cstdint>

// The strongest table channels of one receiver, strongest first. Of equal
// levels the lower channel number comes first; a level at or below the
// -120 dBm floor never enters, and unfilled slots keep the floor.
class TableRanking
{
public:
    static constexpr int kSlots = 10;
    static constexpr int kFloor = -120; // dBm

    struct Slot
    {
        int level = kFloor; // dBm
        int channel = 0;    // table index + 1
    };
    using Slots = std::array<Slot, kSlots>;

    // RSSI bytes are read unsigned and less 256: a negative byte keeps its
    // value, any other byte (including a never-written 0) reads -129 or below.
    static int levelOf(int8_t byte) { return int(uint8_t(byte)) - 256; }

    static Slots rank(const int8_t* table, int count);
};
