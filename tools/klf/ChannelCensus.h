#pragma once

#include "drive/DriveSink.h"

#include <cstdint>
#include <map>
#include <ostream>
#include <tuple>

// Which channels and frequencies a log holds, per receiver and mode, with
// how many readings each: what a user needs to pick klf-export's --channel
// or --frequency. Every sample counts, placed on the route or not.
class ChannelCensus : public DriveSink
{
public:
    void sample(const DriveSample& s) override;

    bool empty() const { return m_counts.empty(); }
    // "  R1 scan  channel 12  851.0125 MHz  40 samples", one line each.
    void printText(std::ostream& out) const;
    // A JSON array of {receiver, mode, channel, frequencyMHz, samples}.
    void printJson(std::ostream& out) const;

private:
    // receiver (0, 1), mode, channel (0 unknown), frequency in Hz (0 unknown):
    // whole hertz tell every 1/256 kHz step apart.
    using Key = std::tuple<int, SampleMode, int, int64_t>;
    std::map<Key, uint64_t> m_counts;
};
