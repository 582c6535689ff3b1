#pragma once

#include "coverage/RssiHistogram.h"

#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

// What the sources hold for an acceptance test, per channel and tile: the
// histogram of the readings and, for Lee's method, the local means whose
// stretch centres lie in the tile.
struct AcceptanceInput
{
    struct Tile
    {
        RssiHistogram histogram;
        std::vector<float> localMeans; // dBm
    };
    struct Channel
    {
        int receiver = 1;      // 1 or 2; 0 both pooled
        int64_t frequency = 0; // CoverageCells::frequencyKey
        int channel = 0;       // as the receiver numbers it; 0 when not known
        std::unordered_map<int64_t, Tile> tiles; // by CoverageGrid::key at the tile size
    };

    // By receiver, then frequency: the order of the report's sections.
    std::map<std::pair<int, int64_t>, Channel> channels;

    Channel& channel(int receiver, int64_t frequency)
    {
        Channel& c = channels[{receiver, frequency}];
        c.receiver = receiver;
        c.frequency = frequency;
        return c;
    }
    // Both receivers' readings of each frequency in one channel each.
    void poolReceivers();
    // Adds another source's readings; a channel keeps the number it had.
    void add(const AcceptanceInput& other);
};
