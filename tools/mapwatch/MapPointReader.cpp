#include "MapPointReader.h"

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kBlockSize = 4096;
constexpr std::size_t kCopied = 312; // every written byte and the counter

uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

uint32_t u32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

double f64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    double d;
    std::memcpy(&d, &v, sizeof d);
    return d;
}

std::string text(const uint8_t* p, std::size_t max)
{
    std::size_t n = 0;
    while (n < max && p[n])
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

uint32_t counter(const uint8_t* block)
{
    std::atomic_thread_fence(std::memory_order_acquire);
    return u32(block + 308);
}

} // namespace

MapPointReader::MapPointReader(std::string blockName)
    : m_name(blockName.empty() || blockName.front() != '/' ? "/" + blockName : blockName)
{
}

MapPointReader::~MapPointReader()
{
    if (m_data)
        munmap(const_cast<uint8_t*>(m_data), kBlockSize);
}

bool MapPointReader::attach()
{
    if (m_data)
        return true;
    const int fd = shm_open(m_name.c_str(), O_RDONLY, 0);
    if (fd < 0)
        return false;
    struct stat st {};
    void* p = MAP_FAILED;
    if (fstat(fd, &st) == 0 && st.st_size >= off_t(kBlockSize))
        p = mmap(nullptr, kBlockSize, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED)
        return false;
    m_data = static_cast<const uint8_t*>(p);
    return true;
}

std::optional<MapPointReader::Point> MapPointReader::read()
{
    if (!attach())
        return std::nullopt;

    // Retry while the writer is midway (odd counter) or moved on meanwhile.
    uint8_t copy[kCopied];
    bool whole = false;
    for (int attempt = 0; attempt < 1000 && !whole; ++attempt) {
        const uint32_t before = counter(m_data);
        std::memcpy(copy, m_data, kCopied);
        const uint32_t after = counter(m_data);
        whole = before == after && (before & 1) == 0;
    }

    Point point;
    point.name = text(copy, 11);
    point.version = u16(copy + 12);
    point.latitude = f64(copy + 16);
    point.longitude = f64(copy + 24);
    point.kind = u16(copy + 32);
    point.rssi = int16_t(u16(copy + 34));
    point.text = text(copy + 36, 256);
    point.rangeMin = int16_t(u16(copy + 292));
    point.rangeMax = int16_t(u16(copy + 294));
    point.flag = copy[296];
    point.serial = text(copy + 297, 9);
    point.sequence = u32(copy + 308);
    point.whole = whole;
    return point;
}
