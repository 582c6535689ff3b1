#include "FrameEncoder.h"

#include "SimBytes.h"

uint8_t FrameEncoder::checksum(uint8_t type, std::span<const uint8_t> payload)
{
    uint8_t x = type;
    for (uint8_t b : payload)
        x ^= b;
    return x;
}

SimFrame FrameEncoder::encode(uint8_t type, std::span<const uint8_t> payload)
{
    if (payload.size() > kMaxPayload)
        payload = payload.first(kMaxPayload);
    const std::size_t length = payload.size() + 2;
    SimFrame frame;
    frame.type = type;
    frame.bytes.reserve(length + 3);
    frame.bytes.push_back(kSync);
    SimBytes::appendLe16(frame.bytes, uint16_t(length));
    frame.bytes.push_back(type);
    frame.bytes.insert(frame.bytes.end(), payload.begin(), payload.end());
    frame.bytes.push_back(checksum(type, payload));
    return frame;
}
