// Feeds arbitrary bytes to the framer and checks what it reports: every
// packet's body XORs to 0 with 1 <= L <= 2047 and a length its type may have,
// and the packets and counters do not depend on how the stream is cut into
// reads or on the feeding entry, with or without a quiet line between reads.
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
    uint32_t abandonedFrames = 0;

    bool operator==(const Outcome&) const = default;
};

// Either every length the format allows, or a table shaped like the
// device's: short fixed messages, long blocks, no type 0xAA.
FrameLengths lengthsFor(bool deviceLike)
{
    FrameLengths lengths;
    if (deviceLike) {
        for (int type = 0; type < 256; ++type)
            lengths.setMax(uint8_t(type), uint16_t(type % 5 == 0 ? 256 : 2 + type % 40));
        lengths.setMax(0x02, FrameLengths::kMaxLength);
        lengths.setMax(0xAA, 0);
    }
    return lengths;
}

struct Setup
{
    FrameLengths lengths;
    bool quietAtSplit = false;
};

void take(const PacketFramer& framer, const Setup& setup, Outcome& out)
{
    const int length = framer.length();
    if (length < 1 || length > PacketFramer::kMaxLength || !setup.lengths.plausible(framer.body()[0], length))
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

void quiet(PacketFramer& framer, const Setup& setup, Outcome& out)
{
    if (framer.quietLimitMs() < 0)
        return;
    for (bool got = framer.lineQuiet(); got; got = framer.next())
        take(framer, setup, out);
}

void finish(const PacketFramer& framer, Outcome& out)
{
    out.droppedHeaders = framer.droppedHeaders();
    out.badChecksums = framer.badChecksums();
    out.abandonedFrames = framer.abandonedFrames();
}

Outcome byteWise(const uint8_t* data, size_t size, size_t split, const Setup& setup)
{
    PacketFramer framer(setup.lengths);
    Outcome out;
    for (size_t i = 0; i < size; ++i) {
        if (i == split && setup.quietAtSplit)
            quiet(framer, setup, out);
        for (bool got = framer.pushByte(data[i]); got; got = framer.next())
            take(framer, setup, out);
    }
    finish(framer, out);
    return out;
}

// Two reads, split at `split`, each fed in bulk.
Outcome twoReads(const uint8_t* data, size_t size, size_t split, const Setup& setup)
{
    PacketFramer framer(setup.lengths);
    Outcome out;
    auto feed = [&](const uint8_t* p, size_t n) {
        for (size_t at = 0; at < n;) {
            bool completed = false;
            const size_t used = framer.pushBytes(p + at, n - at, completed);
            if ((used == 0 && !completed) || used > n - at)
                std::abort();
            at += used;
            if (completed)
                take(framer, setup, out);
        }
        while (framer.next())
            take(framer, setup, out);
    };
    feed(data, split);
    if (setup.quietAtSplit && split < size)
        quiet(framer, setup, out);
    feed(data + split, size - split);
    finish(framer, out);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes pick the split point, the table (bit 15) and a
    // quiet line at the split (bit 14); the rest is the stream.
    const size_t pick = size_t(data[0]) | size_t(data[1]) << 8;
    data += 2;
    size -= 2;

    Setup setup;
    setup.lengths = lengthsFor((pick & 0x8000) != 0);
    setup.quietAtSplit = (pick & 0x4000) != 0;
    const size_t split = size == 0 ? 0 : (pick & 0x3FFF) % (size + 1);
    const Outcome whole = byteWise(data, size, split, setup);
    if (!(twoReads(data, size, split, setup) == whole))
        std::abort();
    if (!setup.quietAtSplit && !(twoReads(data, size, size, setup) == whole))
        std::abort();
    return 0;
}
