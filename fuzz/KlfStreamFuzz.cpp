// Feeds arbitrary files to the .KLF parser, whole and in two reads split
// anywhere, in each header mode, through its push face (feed), its pull
// face (next, and KlfPullReader over the file), and as a follower of a
// growing file reads it (looks at the file as it stood at two moments, each
// giving back the tail not yet whole): the verdict, the offsets and
// the records never depend on how the file is read, every record handed out
// lies inside the file with L + 2 bytes, and the whole records end where the
// walk says.
#include "log/KlfPullReader.h"
#include "log/KlfStream.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Outcome
{
    int status = 0;
    size_t errorOffset = 0;
    size_t end = 0;
    bool hasHeader = false;
    std::vector<size_t> offsets;

    bool operator==(const Outcome&) const = default;
};

void check(const KlfStream::Record& r, size_t size)
{
    if (r.bytes.size() != size_t(r.length) + 2 || r.length == 0 || r.length > KlfStream::kMaxLength
        || r.offset + r.bytes.size() > size)
        std::abort();
}

void conclude(const KlfStream& stream, size_t size, Outcome& out)
{
    out.status = int(stream.status());
    out.errorOffset = stream.errorOffset();
    out.end = stream.endOfRecords();
    out.hasHeader = stream.hasHeader();
    if (out.end > size)
        std::abort();
}

Outcome pushed(const uint8_t* data, size_t size, size_t split, KlfStream::HeaderMode mode)
{
    Outcome out;
    KlfStream stream(mode, [&](const KlfStream::Record& r, std::span<const uint8_t>, bool isChannelInfo) {
        check(r, size);
        if (!isChannelInfo)
            out.offsets.push_back(r.offset);
    });
    stream.feed({data, split});
    stream.feed({data + split, size - split});
    stream.finish();
    conclude(stream, size, out);
    return out;
}

Outcome pulled(const uint8_t* data, size_t size, size_t split, KlfStream::HeaderMode mode)
{
    Outcome out;
    KlfStream stream(mode);
    KlfStream::Record r;
    for (std::span<const uint8_t> part : {std::span<const uint8_t>(data, split), std::span(data + split, size - split)})
        while (stream.next(part, r)) {
            check(r, size);
            if (!r.isChannelInfo)
                out.offsets.push_back(r.offset);
        }
    stream.finish();
    conclude(stream, size, out);
    return out;
}

// Looks at the file when it held split bytes, then half the rest more, then
// all: each look takes what is whole and gives the tail back, as KlfFollower
// does, and the last ends the walk as a whole read.
Outcome followed(const uint8_t* data, size_t size, size_t split, KlfStream::HeaderMode mode)
{
    Outcome out;
    KlfStream stream(mode);
    KlfStream::Record r;
    for (const size_t visible : {split, split + (size - split) / 2, size}) {
        if (stream.bytesTaken() > visible)
            std::abort();
        std::span<const uint8_t> part(data + stream.bytesTaken(), visible - stream.bytesTaken());
        while (stream.next(part, r)) {
            check(r, size);
            if (r.offset + r.bytes.size() > visible)
                std::abort(); // a record handed out before it was whole
            if (!r.isChannelInfo)
                out.offsets.push_back(r.offset);
        }
        if (visible < size)
            stream.rewindToWholeRecords();
    }
    stream.finish();
    conclude(stream, size, out);
    return out;
}

// The file reader always detects the header, and takes an empty file as empty.
void compareWithFileReader(const uint8_t* data, size_t size, const Outcome& whole)
{
    std::FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!f)
        return;
    Outcome out;
    {
        KlfPullReader in(f);
        KlfStream::Record r;
        while (in.next(r)) {
            check(r, size);
            out.offsets.push_back(r.offset);
        }
        out.status = int(in.status());
        out.errorOffset = in.errorOffset();
        out.end = in.offset();
        out.hasHeader = in.hasHeader();
    }
    std::fclose(f);
    if (!(out == whole))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte picks the split point, the second the header mode.
    const size_t pick = data[0];
    const auto mode = KlfStream::HeaderMode(data[1] % 3);
    data += 2;
    size -= 2;
    const size_t split = size == 0 ? 0 : pick % (size + 1);
    const Outcome whole = pushed(data, size, size, mode);
    if (!(pushed(data, size, split, mode) == whole) || !(pushed(data, size, 0, mode) == whole)
        || !(pulled(data, size, split, mode) == whole) || !(followed(data, size, split, mode) == whole))
        std::abort();
    if (mode == KlfStream::HeaderMode::Detect && size > 0)
        compareWithFileReader(data, size, whole);
    return 0;
}
