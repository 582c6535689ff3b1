#pragma once

#include "link/ByteOrder.h"

#include <array>
#include <cstdint>

// Frame image as it travels on the wire: sync, 16-bit length L (little-endian),
// type, payload, checksum. Used for received packets (sync left unset) and as
// the send buffer. A frame is L + 3 bytes; the log keeps bytes 1 .. L + 2.
struct PacketRecord
{
    static constexpr int kSize = 2052;
    static constexpr uint8_t kSync = 0xAA;

    std::array<uint8_t, kSize> bytes{};

    uint16_t length() const { return ByteOrder::getleu16(&bytes[1]); }
    void setLength(uint16_t l) { ByteOrder::putle16(&bytes[1], l); }
    uint8_t type() const { return bytes[3]; }
    const uint8_t* payload() const { return &bytes[4]; }
    // L - 2 for a well-formed packet; 0 when L < 2.
    int payloadLength() const { return length() >= 2 ? length() - 2 : 0; }
    // The packet from its length field on: L + 2 bytes.
    const uint8_t* fromLength() const { return &bytes[1]; }
    int fromLengthCount() const { return length() + 2; }
};
