// Sustained logging rate, the writer woken by its queue's depth rather than
// its timer, and the cost of PostRecord on the link thread.

#include "log/TLog_Router.h"
#include "protocol/DeviceRecord.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

std::vector<uint8_t> record(size_t size)
{
    std::vector<uint8_t> r(size, 0x11);
    r[0] = uint8_t((size - 2) & 0xFF);
    r[1] = uint8_t((size - 2) >> 8);
    return r;
}

DeviceRecord& device()
{
    static DeviceRecord record;
    return record;
}

// Posts and waits until everything is on file: records per second end to end.
void BM_SustainedRecords(benchmark::State& st)
{
    QTemporaryDir dir;
    const auto r = record(size_t(st.range(0)));
    TLog_Router writer((dir.path() + "/bench.KLF").toStdString(), device());
    // Enough records to wake the writer at once: fewer would wait for its
    // timer, and the figure would be the timer's period.
    const int kBatch = std::max(1000, int(TLog_Router::kWakeBytes / r.size()) + 1);
    for (auto _ : st) {
        const uint64_t target = writer.writtenCount() + writer.droppedCount() + uint64_t(kBatch);
        for (int i = 0; i < kBatch; ++i)
            writer.PostRecord(r.data(), int(r.size()));
        while (writer.writtenCount() + writer.droppedCount() < target)
            std::this_thread::yield();
    }
    writer.stopAndWait();
    st.SetItemsProcessed(st.iterations() * kBatch);
    st.SetBytesProcessed(st.iterations() * kBatch * int64_t(r.size()));
    st.counters["dropped"] = double(writer.droppedCount());
}
BENCHMARK(BM_SustainedRecords)->Arg(17)->Arg(80)->Arg(156)->UseRealTime()->Unit(benchmark::kMillisecond);

// The link thread's share: the copy into the queue and the wake-up.
void BM_PostRecord(benchmark::State& st)
{
    QTemporaryDir dir;
    const auto r = record(size_t(st.range(0)));
    TLog_Router writer((dir.path() + "/post.KLF").toStdString(), device());
    for (auto _ : st)
        writer.PostRecord(r.data(), int(r.size()));
    writer.stopAndWait();
    st.counters["dropped"] = double(writer.droppedCount());
}
BENCHMARK(BM_PostRecord)->Arg(17)->Arg(156)->Iterations(50000); // stays inside the queue bound

} // namespace

BENCHMARK_MAIN();
