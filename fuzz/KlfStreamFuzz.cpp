// Feeds arbitrary files to KlfStream, whole and in two reads split anywhere,
// in each header mode: the verdict, the offsets and the records never depend
// on how the file is read, every record handed out lies inside the file with
// L + 2 bytes, and the whole records end where the walk says.
#include "log/KlfStream.h"

#include <cstddef>
#include <cstdint>
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

Outcome walk(const uint8_t* data, size_t size, size_t split, KlfStream::HeaderMode mode)
{
    Outcome out;
    KlfStream stream(mode, [&](const KlfStream::Record& r, std::span<const uint8_t> bytes, bool) {
        if (bytes.size() != size_t(r.length) + 2 || r.length == 0 || r.length > KlfStream::kMaxLength
            || r.offset + bytes.size() > size)
            std::abort();
        out.offsets.push_back(r.offset);
    });
    stream.feed({data, split});
    stream.feed({data + split, size - split});
    stream.finish();
    out.status = int(stream.status());
    out.errorOffset = stream.errorOffset();
    out.end = stream.endOfRecords();
    out.hasHeader = stream.hasHeader();
    if (out.end > size)
        std::abort();
    return out;
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
    const Outcome whole = walk(data, size, size, mode);
    if (!(walk(data, size, size == 0 ? 0 : pick % (size + 1), mode) == whole))
        std::abort();
    if (!(walk(data, size, 0, mode) == whole))
        std::abort();
    return 0;
}
