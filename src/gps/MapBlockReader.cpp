#include "MapBlockReader.h"

#include "link/ByteOrder.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Every byte the writer sets, the counter included.
constexpr std::size_t kCopied = MapBlock::kSequence + 4;

using ByteOrder::getleu16;
using ByteOrder::getleu32;

double f64(const uint8_t* p)
{
    return std::bit_cast<double>(ByteOrder::getleu64(p));
}

std::string text(const uint8_t* p, std::size_t max)
{
    std::size_t n = 0;
    while (n < max && p[n])
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

bool readAll(int fd, uint8_t* to, std::size_t size, off_t offset)
{
    return ::pread(fd, to, size, offset) == ssize_t(size);
}

} // namespace

MapBlockReader::MapBlockReader(std::string blockName)
    : m_name(blockName.empty() || blockName.front() != '/' ? "/" + blockName : blockName)
{
}

MapBlockReader::Reading MapBlockReader::read()
{
    const int fd = shm_open(m_name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return {};
    Reading reading = readFrom(fd);
    ::close(fd);
    return reading;
}

MapBlockReader::Reading MapBlockReader::readFrom(int fd)
{
    Reading reading;

    // Retry while the writer is midway (odd counter) or moved on meanwhile;
    // each pread is a system call, which orders it after the one before.
    uint8_t copy[kCopied];
    bool whole = false;
    for (int attempt = 0; attempt < 1000 && !whole; ++attempt) {
        uint8_t before[4];
        uint8_t after[4];
        if (!readAll(fd, before, 4, MapBlock::kSequence) || !readAll(fd, copy, kCopied, 0)
            || !readAll(fd, after, 4, MapBlock::kSequence))
            return reading; // too small: no point yet
        whole = getleu32(before) == getleu32(after) && (getleu32(before) & 1) == 0;
    }

    Point point;
    point.name = text(copy + MapBlock::kNameText, sizeof MapBlock::kName);
    // A block that exists but was never written holds no point.
    if (point.name.empty())
        return reading;
    point.version = getleu16(copy + MapBlock::kVersion);
    point.latitude = f64(copy + MapBlock::kLatitude);
    point.longitude = f64(copy + MapBlock::kLongitude);
    point.kind = getleu16(copy + MapBlock::kPointKind);
    point.rssi = int16_t(getleu16(copy + MapBlock::kRssi));
    point.text = text(copy + MapBlock::kText, MapBlock::kRangeMin - MapBlock::kText);
    point.rangeMin = int16_t(getleu16(copy + MapBlock::kRangeMin));
    point.rangeMax = int16_t(getleu16(copy + MapBlock::kRangeMax));
    point.flag = copy[MapBlock::kFlag];
    point.serial = text(copy + MapBlock::kSerial, MapBlock::kSerialChars + 1);
    point.sequence = getleu32(copy + MapBlock::kSequence);
    point.whole = whole;

    reading.problem = problemWith(point);
    if (reading.problem.empty())
        reading.point = std::move(point);
    return reading;
}

std::string MapBlockReader::problemWith(const Point& p)
{
    if (p.name != MapBlock::kName)
        return "name field does not read " + std::string(MapBlock::kName);
    if (p.version != MapBlock::kVersionValue)
        return "version is " + std::to_string(p.version) + ", not " + std::to_string(MapBlock::kVersionValue);
    // Written this way so that NaN fails too.
    if (!(std::abs(p.latitude) <= 90.0 && std::abs(p.longitude) <= 180.0))
        return "position lies outside -90..90 degrees latitude or -180..180 degrees longitude";
    if (p.rangeMin < MapBlock::kRangeLowest || p.rangeMin > MapBlock::kRangeHighest
        || p.rangeMax < MapBlock::kRangeLowest || p.rangeMax > MapBlock::kRangeHighest)
        return "colour range " + std::to_string(p.rangeMin) + ".." + std::to_string(p.rangeMax)
            + " dBm lies outside " + std::to_string(MapBlock::kRangeLowest) + ".."
            + std::to_string(MapBlock::kRangeHighest) + " dBm";
    return {};
}
