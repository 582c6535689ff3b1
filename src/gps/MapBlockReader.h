#pragma once

#include "gps/MapBlock.h"

#include <cstdint>
#include <optional>
#include <string>

// Reads the map point block the way a mapping application does: by name,
// read-only, through MapBlock's layout. Whatever another program puts there
// is only data: the block is read with pread, never mapped, so one cut short
// under the reader (or made smaller by another program) reads as no point
// instead of killing the reader with SIGBUS; a point is accepted only
// when its fields hold what the logger writes; and the name is looked up on
// every read, so a block a restarted logger made anew is followed, and a
// removed one is no point rather than the old one's last.
class MapBlockReader
{
public:
    struct Point
    {
        std::string name;      // "ZKTPELLORN"
        unsigned version = 0;  // 100
        double latitude = 0;   // degrees
        double longitude = 0;  // degrees
        unsigned kind = 0;     // 1
        int rssi = 0;          // dBm
        std::string text;      // empty as the logger writes it
        int rangeMin = 0;      // dBm
        int rangeMax = 0;      // dBm
        unsigned flag = 0;     // 1
        std::string serial;    // raw bytes, up to 8
        uint32_t sequence = 0; // the write counter (0 when the writer keeps none)
        bool whole = true;     // the counter vouches for a complete point
    };

    struct Reading
    {
        std::optional<Point> point; // only a point that passed every check
        // Why the block holds no usable point ("version is 7, not 100"),
        // to follow "the block's"; empty when there simply is
        // none yet (no block, a block never written, one too small).
        std::string problem;
    };

    explicit MapBlockReader(std::string blockName = MapBlock::kName);
    Reading read();

    // Empty when the fields are what the logger writes, else the reason.
    static std::string problemWith(const Point& point);

private:
    Reading readFrom(int fd);

    std::string m_name; // with its leading '/'
};
