// klf-report at scale: a map of a million cells and an area of 2,000 km²
// at 100 m tiles (about 200,000 tiles), run as a user runs it. The figures
// alone (--json), then the HTML report with its map on the plain grid.
// Targets: the figures in under 2 s, the HTML in under 10 s, both under 500 MB.
// TAVRIX_REPORT_BENCH_DIR keeps the map and the area there between runs.
#include "ChildRun.h"
#include "coverage/CoverageGrid.h"
#include "coverage/GpkgCoverageStore.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <string>

namespace {

std::string g_map, g_area; // made once, shared by the iterations

// 1000 by 1000 cells of 50 m at 48° N, one receiver and frequency; the
// area a square of 44.7 km inside it.
bool makeFiles(const std::string& map, const std::string& area, std::string& error)
{
    const CoverageGrid grid(50);
    DriveCoverage drive;
    drive.fileName = "bench.KLF";
    drive.sha256 = "bench";
    const CoverageGrid::Cell origin = grid.cellOf(48.0, 11.0);
    for (int32_t r = 0; r < 1000; ++r) {
        const CoverageGrid::Cell west = grid.cellOf(grid.rowSouth(origin.row + r) + 1e-6, 11.0);
        for (int32_t c = 0; c < 1000; ++c) {
            CoverageCells::Record& rec = drive.cells.at(
                {CoverageGrid::key({west.row, west.column + c}), CoverageCells::frequencyKey(851.0125), 0});
            for (int k = 0; k < 12; ++k)
                rec.histogram.add(-70 - (r * 7 + c * 3 + k * 5) % 45);
            rec.drives = 1;
            rec.firstMs = 1000;
            rec.lastMs = 2000;
        }
    }
    GpkgCoverageStore store(map, CoverageStore::Settings{});
    bool already = false;
    if (!store.open(error) || !store.add(std::move(drive), already, error) || !store.finish(error))
        return false;
    std::FILE* f = std::fopen(area.c_str(), "w");
    if (!f) {
        error = "cannot write the area";
        return false;
    }
    const double s = 48.02, w = 11.03, n = s + 0.4022, e = w + 0.6010;
    std::fprintf(f,
                 "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\",\"properties\":{},\"geometry\":"
                 "{\"type\":\"Polygon\",\"coordinates\":[[[%f,%f],[%f,%f],[%f,%f],[%f,%f],[%f,%f]]]}}]}\n",
                 w, s, e, s, e, n, w, n, w, s);
    std::fclose(f);
    return true;
}

// Made in a child process: the bench's own memory stays small, and a tool it
// forks starts from that, not from the million cells' peak.
bool makeInputs(std::string& error)
{
    if (!g_map.empty())
        return true;
    char made[] = "/tmp/tavrix-report-bench-XXXXXX";
    const char* keep = std::getenv("TAVRIX_REPORT_BENCH_DIR");
    const char* folder = keep ? keep : ::mkdtemp(made);
    if (!folder) {
        error = "cannot make a folder";
        return false;
    }
    const std::string map = std::string(folder) + "/map.gpkg";
    const std::string area = std::string(folder) + "/area.geojson";
    if (!keep || ::access(map.c_str(), R_OK) != 0 || ::access(area.c_str(), R_OK) != 0) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::string why;
            ::_exit(makeFiles(map, area, why) ? 0 : 1);
        }
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            error = "cannot make the map";
            return false;
        }
    }
    g_map = map;
    g_area = area;
    return true;
}

void runReport(benchmark::State& state, const std::string& output, const char* outputOption)
{
    std::string error;
    if (!makeInputs(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    double slowest = 0, cpu = 0, peakMB = 0;
    for (auto _ : state) {
        double s = 0;
        if (!ChildRun::run(KLF_REPORT_PATH,
                           {"--threshold", "-95", "--tile", "100", "--area", g_area, "--grid", outputOption, output, g_map},
                           s, cpu, peakMB)) {
            state.SkipWithError("klf-report failed");
            break;
        }
        state.SetIterationTime(s);
        slowest = std::max(slowest, s);
    }
    std::remove(output.c_str());
    state.counters["slowest_s"] = slowest;
    state.counters["cpu_s"] = cpu;
    state.counters["resident_MB"] = peakMB;
}

void BM_ReportFigures1MCells(benchmark::State& state)
{
    runReport(state, "/tmp/tavrix-report-bench.json", "--json");
}
BENCHMARK(BM_ReportFigures1MCells)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReportHtml1MCells(benchmark::State& state)
{
    runReport(state, "/tmp/tavrix-report-bench.html", "-o");
}
BENCHMARK(BM_ReportHtml1MCells)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!g_map.empty() && !std::getenv("TAVRIX_REPORT_BENCH_DIR")) {
        std::remove(g_map.c_str());
        std::remove(g_area.c_str());
        ::rmdir(g_map.substr(0, g_map.rfind('/')).c_str());
    }
    return 0;
}
