#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Reads map points from the shared block the way a mapping application
// would: by name, read-only, decoding the documented offsets itself (it
// deliberately shares no code with the writer).
class MapPointReader
{
public:
    struct Point
    {
        std::string name;       // offset 0
        unsigned version = 0;   // offset 12, 100
        double latitude = 0;    // offset 16
        double longitude = 0;   // offset 24
        unsigned kind = 0;      // offset 32, 1
        int rssi = 0;           // offset 34, dBm
        std::string text;       // offset 36
        int rangeMin = 0;       // offset 292, dBm
        int rangeMax = 0;       // offset 294, dBm
        unsigned flag = 0;      // offset 296, 1
        std::string serial;     // offset 297
        uint32_t sequence = 0;  // offset 308, optional counter (0 when the writer keeps none)
        bool whole = true;      // the counter vouches for a complete point
    };

    explicit MapPointReader(std::string blockName);
    ~MapPointReader();
    MapPointReader(const MapPointReader&) = delete;
    MapPointReader& operator=(const MapPointReader&) = delete;

    // The current point; nothing while the block does not exist yet.
    std::optional<Point> read();

private:
    bool attach();

    std::string m_name;
    const uint8_t* m_data = nullptr;
};
