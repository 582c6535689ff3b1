#pragma once

#include <array>
#include <cstdint>
#include <vector>

// Cuts the program's command stream into frames. Commands are short, but
// the full frame rules apply: hunt for 0xAA, take a 16-bit little-endian
// length of 1..2047, collect that many bytes and keep them only when they
// XOR to zero. Rejected input is counted so the stats can show it.
class CommandFramer
{
public:
    struct Frame
    {
        uint8_t type = 0;
        std::vector<uint8_t> bytes; // the whole frame, sync to checksum
    };

    // Feeds bytes; returns the frames they completed, in order.
    std::vector<Frame> push(const uint8_t* data, std::size_t n);
    int rejected() const { return m_rejected; }

private:
    enum class State { Hunting, HaveSync, HaveLengthLow, InBody };

    State m_state = State::Hunting;
    uint16_t m_length = 0;
    std::vector<uint8_t> m_body;
    int m_rejected = 0;
};
