#include "coverage/AcceptanceInput.h"

void AcceptanceInput::poolReceivers()
{
    std::map<std::pair<int, int64_t>, Channel> pooled;
    for (auto& [key, c] : channels) {
        Channel& both = pooled[{0, c.frequency}];
        both.receiver = 0;
        both.frequency = c.frequency;
        if (!both.channel)
            both.channel = c.channel;
        for (auto& [tileKey, tile] : c.tiles) {
            Tile& t = both.tiles[tileKey];
            t.histogram.add(tile.histogram);
            t.localMeans.insert(t.localMeans.end(), tile.localMeans.begin(), tile.localMeans.end());
        }
    }
    channels = std::move(pooled);
}

void AcceptanceInput::add(const AcceptanceInput& other)
{
    for (const auto& [key, from] : other.channels) {
        Channel& c = channel(from.receiver, from.frequency);
        if (!c.channel)
            c.channel = from.channel;
        for (const auto& [tileKey, tile] : from.tiles) {
            Tile& t = c.tiles[tileKey];
            t.histogram.add(tile.histogram);
            t.localMeans.insert(t.localMeans.end(), tile.localMeans.begin(), tile.localMeans.end());
        }
    }
}
