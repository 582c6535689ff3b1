#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A packet from its length field on: L, type, payload, XOR checksum.
inline std::vector<uint8_t> makeRecord(uint8_t type, const std::vector<uint8_t>& payload)
{
    const uint16_t l = uint16_t(payload.size() + 2);
    std::vector<uint8_t> r{uint8_t(l & 0xFF), uint8_t(l >> 8), type};
    uint8_t sum = type;
    for (uint8_t b : payload) {
        r.push_back(b);
        sum ^= b;
    }
    r.push_back(sum);
    return r;
}

// A record of the given total size (L + 2) whose payload starts with seq.
inline std::vector<uint8_t> makeSequenced(uint8_t type, uint32_t seq, size_t recordSize)
{
    std::vector<uint8_t> payload(recordSize - 4, 0x5A);
    for (int i = 0; i < 4 && i < int(payload.size()); ++i)
        payload[i] = uint8_t(seq >> (8 * i));
    return makeRecord(type, payload);
}

inline uint32_t sequenceOf(const uint8_t* payload)
{
    return uint32_t(payload[0]) | uint32_t(payload[1]) << 8 | uint32_t(payload[2]) << 16
           | uint32_t(payload[3]) << 24;
}

inline std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
