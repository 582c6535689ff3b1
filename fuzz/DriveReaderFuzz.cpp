// Feeds arbitrary bytes as a .KLF log through the drive model (the parser's
// pull face) and the GPX writer: any length field, header fragment or GPS
// message must give a summary, never a crash, an endless walk or an unbounded
// queue.
#include "GpxWriter.h"
#include "drive/DriveReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    std::FILE* out = std::fopen("/dev/null", "wb");
    if (!in || !out)
        return 0;
    {
        GpxWriter writer(out, "fuzz");
        DriveReader reader;
        const DriveSummary s = reader.read(in, writer);
        writer.finish(s);
        if (s.samplesPlaced + s.samplesNotPlaced > size)
            __builtin_trap(); // every sample comes from at least one byte of the log
        if (s.samplesAcrossTimeJump > s.samplesNotPlaced)
            __builtin_trap(); // those left out at a time jump are among the unplaced
    }
    std::fclose(in);
    std::fclose(out);
    return 0;
}
