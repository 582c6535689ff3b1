#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The map point block read by the mapping application: 4096 bytes, all
// values little-endian, doubles IEEE 754 binary64. Only the fields below are
// ever written; every other byte stays as the block was created (zero).
//
// Readers take no lock, so a point may be read while the next one is being
// written. For readers that care, a 32-bit counter at kSequence is incremented
// before and after each write: it is odd while a write is in progress, and a
// read is whole when the counter was even and unchanged around it.
class MapBlock
{
public:
    static constexpr std::size_t kSize = 4096;
    static constexpr char kName[] = "ZKTPELLORN";

    static constexpr std::size_t kNameText = 0;    // 11 bytes, NUL-terminated
    static constexpr std::size_t kVersion = 12;    // u16, always kVersionValue
    static constexpr std::size_t kLatitude = 16;   // double, degrees, north positive
    static constexpr std::size_t kLongitude = 24;  // double, degrees, east positive
    static constexpr std::size_t kPointKind = 32;  // u16, always 1
    static constexpr std::size_t kRssi = 34;       // i16, dBm
    static constexpr std::size_t kText = 36;       // 256 bytes, written as the empty text
    static constexpr std::size_t kRangeMin = 292;  // i16, dBm
    static constexpr std::size_t kRangeMax = 294;  // i16, dBm
    static constexpr std::size_t kFlag = 296;      // u8, always 1
    static constexpr std::size_t kSerial = 297;    // up to 8 characters and a NUL
    static constexpr std::size_t kSerialChars = 8;
    static constexpr std::size_t kSequence = 308;  // u32, optional for readers (see above)

    static constexpr unsigned kVersionValue = 100;

    struct Point
    {
        double latitude = 0;  // degrees
        double longitude = 0; // degrees
        int16_t rssi = 0;     // dBm
        int16_t rangeMin = 0; // dBm
        int16_t rangeMax = 0; // dBm
        std::string serial;   // cut to kSerialChars
    };

    // block must be kSize bytes, 4-byte aligned (a mapping is).
    static void write(uint8_t* block, const Point& point);

    // A range text as the user typed it: leading white space, an optional
    // sign and the digits up to the first other character, kept to the low
    // 16 bits ("-85abc" gives -85, "" gives 0, "70000" gives 4464).
    static int16_t rangeValue(std::string_view text);

    // The colour range accepts whole dBm from kRangeLowest to kRangeHighest.
    static constexpr int kRangeLowest = -150;
    static constexpr int kRangeHighest = 0;
    // A range text as a setting: a whole number in that span, white space
    // around it allowed; nothing for anything else ("abc", "99999", "-85abc").
    static std::optional<int16_t> rangeSetting(std::string_view text);
};
