#pragma once

#include "FrameEncoder.h"

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

struct FaultConfig
{
    bool noise = false;           // garbage bytes between frames
    double badChecksumRate = 0.0; // chance per frame of a corrupted copy before it
    double badLengthRate = 0.0;   // chance per frame of a header with an impossible length before it
    bool split = false;           // frames go out in small writes with small gaps
    uint32_t seed = 1;
};

// A piece of output: a frame the program should accept, or injected rubbish.
struct OutChunk
{
    enum Kind { Frame, Fault, Noise };
    Kind kind = Frame;
    uint8_t type = 0;
    std::vector<uint8_t> bytes;
};

// Line faults the program must survive. Every fault is built so that a
// receiver which hunts for 0xAA and checks length and checksum drops it
// without losing the valid frame that follows: noise never contains 0xAA,
// a bad checksum rides on a frame of correct length, and a bad length is
// a bare header. So "frames sent" and "frames received" can be compared.
class FaultInjector
{
public:
    explicit FaultInjector(const FaultConfig& config);

    std::vector<OutChunk> wrap(const SimFrame& frame);
    // While splitting: bytes to put in the next write, and the pause after it.
    std::size_t nextWriteSize(std::size_t remaining);
    std::chrono::microseconds nextGap();
    bool splitting() const { return m_config.split; }

private:
    std::vector<uint8_t> noiseBytes(int count);

    FaultConfig m_config;
    std::mt19937 m_rng;
};
