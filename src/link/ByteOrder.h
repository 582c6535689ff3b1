#pragma once

#include <bit>
#include <cstdint>

// Byte order of the device's wire data, written once. Frames, their payloads,
// the log file and the map block are little-endian; the GPS message inside a
// GPS packet is big-endian. It lives in the link layer because the framer is
// the lowest reader of a multi-byte field (the frame length); everything
// above link reaches it without pointing up. The platform layer is kept for
// what adapts the OS and toolkit, which byte order does not.
//
// Names as in gpsd's bits.h: get/put, le/be, s(igned)/u(nsigned), width.
namespace ByteOrder {

constexpr uint16_t getleu16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
constexpr int16_t getles16(const uint8_t* p) { return int16_t(getleu16(p)); }

constexpr uint32_t getleu32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
constexpr int32_t getles32(const uint8_t* p) { return int32_t(getleu32(p)); }

constexpr uint16_t getbeu16(const uint8_t* p)
{
    return uint16_t((p[0] << 8) | p[1]);
}
constexpr int16_t getbes16(const uint8_t* p) { return int16_t(getbeu16(p)); }

constexpr uint32_t getbeu32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
constexpr int32_t getbes32(const uint8_t* p) { return int32_t(getbeu32(p)); }

constexpr uint64_t getleu64(const uint8_t* p)
{
    return uint64_t(getleu32(p)) | (uint64_t(getleu32(p + 4)) << 32);
}

constexpr void putle16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

constexpr void putle32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

constexpr void putle64(uint8_t* p, uint64_t v)
{
    putle32(p, uint32_t(v));
    putle32(p + 4, uint32_t(v >> 32));
}

constexpr void putbe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

constexpr void putbe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

constexpr void putbe64(uint8_t* p, uint64_t v)
{
    putbe32(p, uint32_t(v >> 32));
    putbe32(p + 4, uint32_t(v));
}

// The native word whose bytes in memory read as v little-endian, for a field
// that is stored in place as one atomic word; its own inverse.
constexpr uint32_t toLe32(uint32_t v)
{
    if constexpr (std::endian::native == std::endian::big)
        return __builtin_bswap32(v);
    return v;
}

} // namespace ByteOrder
