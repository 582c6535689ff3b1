#pragma once

#include <array>
#include <cstdint>
#include <cstring>

// Builds 152-byte GPS messages field by field (big-endian, as on the wire).
struct GpsTestMessage
{
    std::array<uint8_t, 152> bytes{};

    GpsTestMessage& u8(int offset, uint8_t v)
    {
        bytes[offset] = v;
        return *this;
    }
    GpsTestMessage& be16(int offset, int v)
    {
        bytes[offset] = uint8_t(v >> 8);
        bytes[offset + 1] = uint8_t(v);
        return *this;
    }
    GpsTestMessage& be32(int offset, int32_t v)
    {
        const auto u = uint32_t(v);
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = uint8_t(u >> (24 - 8 * i));
        return *this;
    }
    GpsTestMessage& channel(int n, std::array<uint8_t, 6> block)
    {
        std::memcpy(&bytes[57 + 6 * (n - 1)], block.data(), 6);
        return *this;
    }
    GpsTestMessage& idTag(const char (&tag)[7])
    {
        std::memcpy(&bytes[145], tag, 6);
        return *this;
    }

    // The reference message of the GPS screen tests.
    static GpsTestMessage reference()
    {
        GpsTestMessage m;
        m.u8(4, 3).u8(5, 9).be16(6, 0x07D4)             // 03/09/2004
            .u8(8, 13).u8(9, 5).u8(10, 7)                // 13:05:07
            .be32(15, 145969560).be32(19, -267769080)    // 40.5471 N, 74.3803 W
            .be32(23, 12345).be32(27, -12360)            // cm
            .be32(31, -145969560).be32(35, 267769080)    // 40.5471 S, 74.3803 E
            .be32(39, 12360).be32(43, 0)
            .be16(47, 99).be16(49, -250)                 // cm/s
            .be16(51, 3599)                              // NNW
            .be16(53, 15)                                // 1.5 DOP
            .u8(55, 9).u8(56, 7)
            .channel(1, {31, 8, 200, 99, 0x0F, 0xFA})
            .channel(12, {5, 8, 45, 7, 0x00, 0x03})
            .u8(129, 0xC3).u8(130, 0xC1)                 // 2D fix, both flags; cold start, diff. fix, internal
            .be16(133, -1234).be32(135, -56789)
            .be16(139, 0x0033)                           // 25 C
            .u8(141, 0xCF)                               // enabled, decoded, 15
            .u8(142, 1).u8(143, 5).u8(144, 0)            // -05:00
            .idTag("TAVRIX");
        return m;
    }
};
