#include "MapBlock.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

namespace {

void putU16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void putDouble(uint8_t* p, double d)
{
    const uint64_t v = std::bit_cast<uint64_t>(d);
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t toLittle(uint32_t v)
{
    if constexpr (std::endian::native == std::endian::big)
        return __builtin_bswap32(v);
    return v;
}

} // namespace

void MapBlock::write(uint8_t* block, const Point& point)
{
    std::atomic_ref<uint32_t> sequence(*reinterpret_cast<uint32_t*>(block + kSequence));
    const uint32_t before = toLittle(sequence.load(std::memory_order_relaxed));
    sequence.store(toLittle(before + 1), std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);

    std::memcpy(block + kNameText, kName, sizeof kName);
    putU16(block + kVersion, kVersionValue);
    putDouble(block + kLongitude, point.longitude);
    putDouble(block + kLatitude, point.latitude);
    putU16(block + kPointKind, 1);
    putU16(block + kRssi, static_cast<uint16_t>(point.rssi));
    block[kText] = 0;
    putU16(block + kRangeMin, static_cast<uint16_t>(point.rangeMin));
    putU16(block + kRangeMax, static_cast<uint16_t>(point.rangeMax));
    block[kFlag] = 1;
    // The serial number may hold fewer than 8 characters before its NUL.
    const std::size_t n = std::min(kSerialChars, std::strlen(point.serial.c_str()));
    std::memcpy(block + kSerial, point.serial.data(), n);
    block[kSerial + n] = 0;

    sequence.store(toLittle(before + 2), std::memory_order_release);
}

int16_t MapBlock::rangeValue(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    // Arithmetic modulo 2^16 keeps exactly the low 16 bits of any length of number.
    uint16_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = static_cast<uint16_t>(value * 10u + static_cast<unsigned>(text[i] - '0'));
    if (negative)
        value = static_cast<uint16_t>(0u - value);
    return static_cast<int16_t>(value);
}

std::optional<int16_t> MapBlock::rangeSetting(std::string_view text)
{
    auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 4)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (negative)
        value = -value;
    if (value < kRangeLowest || value > kRangeHighest)
        return std::nullopt;
    return static_cast<int16_t>(value);
}
