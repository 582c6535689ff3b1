#pragma once

#include <cstdint>
#include <span>
#include <vector>

// One encoded frame and the type it carries; a frame the program should accept.
struct SimFrame
{
    uint8_t type = 0;
    std::vector<uint8_t> bytes;
};

// Frame layout: 0xAA, 16-bit little-endian L (type + payload + checksum),
// type, payload, XOR of type and payload.
class FrameEncoder
{
public:
    static constexpr uint8_t kSync = 0xAA;
    static constexpr std::size_t kMaxPayload = 2045; // L = payload + 2 must stay below 2048

    static uint8_t checksum(uint8_t type, std::span<const uint8_t> payload);
    // Payloads longer than kMaxPayload are cut: the far side rejects L >= 2048.
    static SimFrame encode(uint8_t type, std::span<const uint8_t> payload);
};
