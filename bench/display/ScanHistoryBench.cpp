// The scan history's cost per report and its memory once full: rows arrive
// at up to some 190 a second per receiver, and the ring must stay bounded.
#include "display/ScanHistory.h"

#include <benchmark/benchmark.h>

#include <sstream>

namespace {

ReceiverSettings band()
{
    const uint8_t block[12] = {0x70, 0x17, 0, 0, 0x58, 0x1B, 0, 0, 0x00, 0x19, 0, 0};
    ReceiverSettings s;
    s.storeBlock(block);
    for (int k = 0; k < 10; ++k)
        s.scanChannels[k] = 6000 + uint32_t(k) * 10;
    s.scanChannelsKnown = true;
    return s;
}

SampleReport scanReport(int n)
{
    SampleReport r;
    r.kind = SampleReport::Kind::Scan;
    r.utcMs = n;
    r.count = 5;
    for (int e = 0; e < 5; ++e)
        r.entries[e] = {uint16_t(n % 2 * 5 + e), int8_t(-120 + (n * 7 + e * 13) % 91)};
    return r;
}

// Adding a report to a full ring: the steady state of a long run.
void BM_ScanHistoryAdd(benchmark::State& state)
{
    const ReceiverSettings s = band();
    ScanHistory history;
    for (std::size_t i = 0; i < history.capacity(); ++i)
        history.add(scanReport(int(i)), s);
    int n = 0;
    for (auto _ : state)
        history.add(scanReport(n++), s);
    state.SetItemsProcessed(state.iterations());
    // What a receiver's history holds once full (a figure, not a timing).
    state.counters["memory_full_mib"] = double(history.memoryBytes()) / (1 << 20);
    state.counters["capacity_minutes_at_line_rate"] = double(history.capacity()) / (38400.0 / 10 / 20) / 60;
}
BENCHMARK(BM_ScanHistoryAdd);

// A CSV export of a full receiver history (35 minutes of scan reports).
void BM_ScanHistoryCsv(benchmark::State& state)
{
    const ReceiverSettings s = band();
    ScanHistory history;
    for (std::size_t i = 0; i < history.capacity(); ++i)
        history.add(scanReport(int(i)), s);
    for (auto _ : state) {
        std::ostringstream out;
        history.writeCsv(out);
        benchmark::DoNotOptimize(out.tellp());
    }
}
BENCHMARK(BM_ScanHistoryCsv)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
