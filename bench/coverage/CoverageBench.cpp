// Coverage maps at scale: binning alone on one core; klf-coverage on a
// 100 MB log into a new GeoPackage, as a user runs it (a child process, wall
// clock, peak resident memory from the kernel), and a second such log merged
// into that map; and one million cells into PostGIS in a throwaway cluster.
// Targets: at least 20 M samples/s; under 3 s and 200 MB; under 30 s.
#include "ChildRun.h"
#include "PgCluster.h"
#include "coverage/CoverageBinner.h"
#include "coverage/PgCoverageStore.h"
#include "log/KlfHeader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint64_t kLogBytes = uint64_t(100) << 20;
std::string g_log; // made once, shared by the iterations
std::string g_second; // another drive, a quarter of it over the first one's cells

void putRecord(std::vector<uint8_t>& out, uint8_t type, const uint8_t* payload, size_t n)
{
    const uint16_t l = uint16_t(n + 2);
    out.push_back(uint8_t(l & 0xFF));
    out.push_back(uint8_t(l >> 8));
    out.push_back(type);
    uint8_t sum = type;
    for (size_t i = 0; i < n; ++i) {
        out.push_back(payload[i]);
        sum ^= payload[i];
    }
    out.push_back(sum);
}

void be32(uint8_t* p, int32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(uint32_t(v) >> (24 - 8 * i));
}

// A drive at the line rate: each second one GPS message and the scan
// reports, table reports and single-mode blocks that fill the rest of it.
// Its route begins `start` steps along the first drive's (20000 steps).
std::string makeLog(const char* keep, int start = 0)
{
    char path[] = "/tmp/tavrix-coverage-bench-XXXXXX";
    std::FILE* f = keep ? std::fopen(keep, "wb") : ::fdopen(::mkstemp(path), "wb");
    KlfHeader h;
    h.serialNumber = "AB123456";
    h.receiverActive = {true, true};
    const uint8_t block[12] = {0xF8, 0x84, 0, 0, 0x60, 0x86, 0, 0, 0x00, 0x19, 0, 0};
    std::copy(block, block + 12, h.settingsBlocks[0].begin());
    std::copy(block, block + 12, h.settingsBlocks[1].begin());
    std::vector<uint8_t> list(80);
    for (int i = 0; i < 20; ++i) {
        const uint32_t v = 34040 + uint32_t(i * 7);
        for (int b = 0; b < 4; ++b)
            list[size_t(4 * i + b)] = uint8_t(v >> (8 * b));
    }
    putRecord(h.channelInfo, 6, list.data(), list.size());
    std::vector<uint8_t> out = h.bytes();
    uint64_t written = 0;
    for (int second = 0; written < kLogBytes; ++second) {
        uint8_t gps[152] = {};
        gps[4] = 3;
        gps[5] = uint8_t(1 + second / 86400 % 28);
        gps[6] = 0x07;
        gps[7] = 0xD4;
        gps[8] = uint8_t(second / 3600 % 24);
        gps[9] = uint8_t(second / 60 % 60);
        gps[10] = uint8_t(second % 60);
        be32(gps + 31, int32_t(145969560 + 40 * (start + second % 20000)));
        be32(gps + 35, int32_t(-267769080 + 55 * (start + second % 20000)));
        gps[129] = 0xE0;
        putRecord(out, 0, gps, sizeof gps);
        for (int k = 0; k < 180; ++k) {
            uint8_t scan[15];
            for (int e = 0; e < 5; ++e) {
                scan[3 * e] = uint8_t(k % 2);
                scan[3 * e + 1] = uint8_t((5 * k + e) % 10);
                scan[3 * e + 2] = uint8_t(int8_t(-60 - (k * 7 + e * 13 + second) % 60));
            }
            putRecord(out, 7, scan, sizeof scan);
        }
        for (int k = 0; k < 4; ++k) {
            uint8_t table[16];
            for (int e = 0; e < 4; ++e) {
                const int index = (second * 16 + k * 4 + e) % 361;
                table[4 * e] = uint8_t(e % 2);
                table[4 * e + 1] = uint8_t(index & 0xFF);
                table[4 * e + 2] = uint8_t(index >> 8);
                table[4 * e + 3] = uint8_t(int8_t(-70 - e));
            }
            putRecord(out, 9, table, sizeof table);
        }
        uint8_t single[10];
        for (int i = 0; i < 10; ++i)
            single[i] = uint8_t(int8_t(-80 - i));
        putRecord(out, 2, single, sizeof single);
        if (out.size() > (1u << 20)) {
            std::fwrite(out.data(), 1, out.size(), f);
            written += out.size();
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), f);
    std::fclose(f);
    return keep ? keep : path;
}

// Samples as a drive hands them over: a route at walking pace, each second
// 1300 samples over 20 channels of both receivers.
void BM_Binning(benchmark::State& state)
{
    const CoverageGrid grid(50);
    std::vector<DriveSample> samples(1300 * 60);
    for (size_t i = 0; i < samples.size(); ++i) {
        DriveSample& s = samples[i];
        const double t = double(i) / 1300.0; // seconds
        s.latitude = 40.5 + t * 1.1e-5;
        s.longitude = -74.2 + t * 1.5e-5;
        s.frequencyMHz = 851.0 + 0.025 * double(i % 20);
        s.receiver = uint8_t(i / 20 % 2);
        s.rssi = int8_t(-60 - int(i * 7 % 60));
        s.timeMs = int64_t(t * 1000);
        s.placed = true;
    }
    uint64_t binned = 0;
    for (auto _ : state) {
        CoverageBinner binner(grid);
        // The same minute over and over, each time a little further on.
        for (int round = 0; round < 20; ++round) {
            for (DriveSample& s : samples) {
                binner.sample(s);
                s.latitude += 1e-5;
            }
        }
        binned += binner.drive().samplesBinned;
        benchmark::DoNotOptimize(binner.drive().cells.size());
    }
    state.SetItemsProcessed(int64_t(binned));
}
BENCHMARK(BM_Binning)->Unit(benchmark::kMillisecond);

bool runCoverage(const std::vector<std::string>& args, double& seconds, double& cpu, double& peakMB)
{
    return ChildRun::run(KLF_COVERAGE_PATH, args, seconds, cpu, peakMB);
}

// The 100 MB log, made once; TAVRIX_COVERAGE_BENCH_LOG keeps it between runs.
const char* benchLogKept()
{
    const char* keep = std::getenv("TAVRIX_COVERAGE_BENCH_LOG");
    if (g_log.empty())
        g_log = keep && ::access(keep, R_OK) == 0 ? std::string(keep) : makeLog(keep);
    return keep;
}

void reportRuns(benchmark::State& state, double slowest, double cpu, double peakMB)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kLogBytes));
    state.counters["slowest_s"] = slowest;
    state.counters["cpu_s"] = cpu;
    state.counters["resident_MB"] = peakMB;
}

void BM_Coverage100MB(benchmark::State& state)
{
    benchLogKept();
    const std::string gpkg = g_log + ".gpkg";
    double seconds = 0, peakMB = 0, cpu = 0;
    for (auto _ : state) {
        std::remove(gpkg.c_str());
        double s = 0;
        if (!runCoverage({"-o", gpkg, g_log}, s, cpu, peakMB)) {
            state.SkipWithError("klf-coverage failed");
            break;
        }
        state.SetIterationTime(s);
        seconds = std::max(seconds, s);
    }
    std::remove(gpkg.c_str());
    reportRuns(state, seconds, cpu, peakMB);
}
BENCHMARK(BM_Coverage100MB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// The second log into a map that already holds the first: about 290k new
// rows and 90k updated ones. Only the second run is timed.
void BM_CoverageMerge100MB(benchmark::State& state)
{
    const char* keep = benchLogKept();
    if (g_second.empty()) {
        const std::string kept = keep ? std::string(keep) + ".second" : std::string();
        g_second = keep && ::access(kept.c_str(), R_OK) == 0 ? kept : makeLog(keep ? kept.c_str() : nullptr, 15400);
    }
    const std::string gpkg = g_log + ".merge.gpkg";
    double seconds = 0, peakMB = 0, cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(gpkg.c_str());
        double ignored = 0;
        if (!runCoverage({"-o", gpkg, g_log}, ignored, ignored, ignored)) {
            state.SkipWithError("klf-coverage failed on the first log");
            break;
        }
        state.ResumeTiming();
        double s = 0;
        if (!runCoverage({"-o", gpkg, g_second}, s, cpu, peakMB)) {
            state.SkipWithError("klf-coverage failed on the second log");
            break;
        }
        state.SetIterationTime(s);
        seconds = std::max(seconds, s);
    }
    std::remove(gpkg.c_str());
    reportRuns(state, seconds, cpu, peakMB);
}
BENCHMARK(BM_CoverageMerge100MB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// A drive of a million cell rows in one upload: a square of 1000 by 500
// cells, each with both receivers, as one transaction.
void BM_PostGis1MCells(benchmark::State& state)
{
    PgCluster cluster;
    const std::string why = cluster.start();
    if (!why.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    const CoverageGrid grid(50);
    DriveCoverage drive;
    drive.fileName = "bench.KLF";
    const CoverageGrid::Cell origin = grid.cellOf(48.0, 11.0);
    for (int32_t r = 0; r < 1000; ++r)
        for (int32_t c = 0; c < 500; ++c)
            for (uint8_t receiver = 0; receiver < 2; ++receiver) {
                CoverageCells::Record& rec = drive.cells.at(
                    {CoverageGrid::key({origin.row + r, origin.column + c}), CoverageCells::frequencyKey(851.0125), receiver});
                for (int k = 0; k < 8; ++k)
                    rec.histogram.add(-60 - (r + c + k * 3) % 50);
                rec.drives = 1;
                rec.firstMs = 1000;
                rec.lastMs = 2000;
            }
    int round = 0;
    for (auto _ : state) {
        const std::string db = "bench" + std::to_string(round);
        cluster.sql("CREATE DATABASE " + db);
        PgCoverageStore store(cluster.gdal(db), CoverageStore::Settings{});
        std::string error;
        bool already = false;
        drive.sha256 = "bench" + std::to_string(round++);
        if (!store.open(error) || !store.add(drive, already, error) || !store.finish(error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        if (store.cellRows() != drive.cells.size()) {
            state.SkipWithError("cells went missing");
            break;
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(drive.cells.size()));
}
BENCHMARK(BM_PostGis1MCells)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!std::getenv("TAVRIX_COVERAGE_BENCH_LOG"))
        for (const std::string& log : {g_log, g_second})
            if (!log.empty())
                std::remove(log.c_str());
    return 0;
}
