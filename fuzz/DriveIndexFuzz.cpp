// Feeds arbitrary bytes as a .KLF log to the drive's index, then reads
// stretches of it back as the map's waterfall does: any log must give an
// index whose stretches hold only their own records, never a crash or a read
// outside the file.
#include "drive/DriveIndex.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A file with a descriptor: the stretches are read with pread.
    const int fd = memfd_create("drive-index-fuzz", 0);
    if (fd < 0)
        return 0;
    if (size > 0 && ::write(fd, data, size) != ssize_t(size)) {
        ::close(fd);
        return 0;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        return 0;
    }
    DriveIndex index;
    index.build(file);
    const uint64_t records = index.records();
    if (records > size)
        __builtin_trap(); // every record takes at least one byte
    // The whole log, and stretches starting on and off the checkpoints.
    const uint64_t starts[] = {0, 1, records / 3, records > 5 ? records - 5 : 0, DriveIndex::kCheckpointRecords + 7};
    for (uint64_t from : starts) {
        std::vector<DriveReports::Report> reports;
        const uint64_t to = from + DriveIndex::kCheckpointRecords;
        if (!index.readReports(file, from, to, reports))
            __builtin_trap(); // the file is there and whole up to where the index ends
        std::size_t rows = 0;
        for (const DriveReports::Report& r : reports) {
            if (r.record < from || r.record >= to || r.record >= records || r.receiver > 1)
                __builtin_trap();
            if (r.report.kind != SampleReport::Kind::Settings)
                ++rows;
            (void)index.positionAt(r.record);
        }
        if (rows > 2 * (to - from))
            __builtin_trap(); // a record is at most one report per receiver
    }
    (void)index.recordAt(0);
    for (const DriveFix& f : index.fixes())
        (void)index.recordAt(f.timeMs);
    std::fclose(file);
    return 0;
}
