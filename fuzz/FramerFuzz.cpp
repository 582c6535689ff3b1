// Feeds arbitrary bytes to the framer and checks what it reports: every
// packet's body XORs to 0 with 1 <= L <= 2047, and the packets and counters do
// not depend on how the stream is cut into reads or on the feeding entry.
#include "link/PacketFramer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

struct Outcome
{
    std::vector<std::vector<uint8_t>> bodies;
    uint32_t droppedHeaders = 0;
    uint32_t badChecksums = 0;

    bool operator==(const Outcome&) const = default;
};

void take(const PacketFramer& framer, Outcome& out)
{
    const int length = framer.length();
    if (length < 1 || length > PacketFramer::kMaxLength)
        std::abort();
    uint8_t x = 0;
    for (int i = 0; i < length; ++i)
        x ^= framer.body()[i];
    if (x != 0)
        std::abort();
    PacketRecord record;
    framer.copyTo(record);
    if (record.length() != length)
        std::abort();
    out.bodies.emplace_back(framer.body(), framer.body() + length);
}

Outcome byteWise(const uint8_t* data, size_t size)
{
    PacketFramer framer;
    Outcome out;
    for (size_t i = 0; i < size; ++i) {
        for (bool got = framer.pushByte(data[i]); got; got = framer.next())
            take(framer, out);
    }
    out.droppedHeaders = framer.droppedHeaders();
    out.badChecksums = framer.badChecksums();
    return out;
}

// Two reads, split at `split`, each fed in bulk.
Outcome twoReads(const uint8_t* data, size_t size, size_t split)
{
    PacketFramer framer;
    Outcome out;
    auto feed = [&](const uint8_t* p, size_t n) {
        for (size_t at = 0; at < n;) {
            bool completed = false;
            const size_t used = framer.pushBytes(p + at, n - at, completed);
            if ((used == 0 && !completed) || used > n - at)
                std::abort();
            at += used;
            if (completed)
                take(framer, out);
        }
    };
    feed(data, split);
    feed(data + split, size - split);
    out.droppedHeaders = framer.droppedHeaders();
    out.badChecksums = framer.badChecksums();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes pick the split point; the rest is the stream.
    const size_t pick = size_t(data[0]) | size_t(data[1]) << 8;
    data += 2;
    size -= 2;

    const Outcome whole = byteWise(data, size);
    const size_t split = size == 0 ? 0 : pick % (size + 1);
    if (!(twoReads(data, size, split) == whole))
        std::abort();
    if (!(twoReads(data, size, size) == whole))
        std::abort();
    return 0;
}
