#include "MapBlock.h"

#include "link/ByteOrder.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

namespace {

using ByteOrder::putle16;
using ByteOrder::toLe32;

void putDouble(uint8_t* p, double d)
{
    ByteOrder::putle64(p, std::bit_cast<uint64_t>(d));
}

} // namespace

void MapBlock::write(uint8_t* block, const Point& point)
{
    std::atomic_ref<uint32_t> sequence(*reinterpret_cast<uint32_t*>(block + kSequence));
    const uint32_t before = toLe32(sequence.load(std::memory_order_relaxed));
    sequence.store(toLe32(before + 1), std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);

    std::memcpy(block + kNameText, kName, sizeof kName);
    putle16(block + kVersion, kVersionValue);
    putDouble(block + kLongitude, point.longitude);
    putDouble(block + kLatitude, point.latitude);
    putle16(block + kPointKind, 1);
    putle16(block + kRssi, static_cast<uint16_t>(point.rssi));
    block[kText] = 0;
    putle16(block + kRangeMin, static_cast<uint16_t>(point.rangeMin));
    putle16(block + kRangeMax, static_cast<uint16_t>(point.rangeMax));
    block[kFlag] = 1;
    // The serial number may hold fewer than 8 characters before its NUL.
    const std::size_t n = std::min(kSerialChars, std::strlen(point.serial.c_str()));
    std::memcpy(block + kSerial, point.serial.data(), n);
    block[kSerial + n] = 0;

    sequence.store(toLe32(before + 2), std::memory_order_release);
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
