#pragma once

#include <cstdint>
#include <vector>

// The emulator's one byte packer, kept apart from the program's ByteOrder.h on
// purpose: an encoder that shared the decoder's helpers would agree with any
// mistake in them, and the tests would check the program against itself.
// Frames and their payloads are little-endian; the GPS message inside a GPS
// packet is big-endian.
namespace SimBytes {

inline void appendLe16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(uint8_t(v & 0xFF));
    out.push_back(uint8_t(v >> 8));
}

inline void appendLe32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(uint8_t((v >> shift) & 0xFF));
}

inline void putBe16(uint8_t* at, uint16_t v)
{
    at[0] = uint8_t(v >> 8);
    at[1] = uint8_t(v & 0xFF);
}

inline void putBe32(uint8_t* at, uint32_t v)
{
    at[0] = uint8_t(v >> 24);
    at[1] = uint8_t((v >> 16) & 0xFF);
    at[2] = uint8_t((v >> 8) & 0xFF);
    at[3] = uint8_t(v & 0xFF);
}

} // namespace SimBytes
