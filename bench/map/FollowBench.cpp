// tavrix-map --follow's cost while the logger writes: the program follows a
// log that grows at the serial line rate (38400 baud, 3840 bytes a second:
// a GPS fix a second and table reports filling the rest), drawing the
// drive, its cells and the acceptance tiles off screen. Measured from the
// outside, as the user's system monitor sees it: the child's CPU seconds
// (user and system, from /proc) per wall second, after a warm-up.
#include "drive/DriveTestLog.h"

#include <benchmark/benchmark.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kLineBytesPerSecond = 38400.0 / 10; // 8 data bits, a start and a stop bit
constexpr int kWriteEveryMs = 100;                   // the logger writes what came, in batches
constexpr int kWarmUpSeconds = 5;
constexpr int kMeasureSeconds = 30;

// User and system time of a process, in seconds.
double cpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command's closing parenthesis; utime and stime are the 14th and 15th.
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

fs::path tool()
{
    if (const char* dir = std::getenv("TAVRIX_BIN_DIR"))
        return fs::path(dir) / "tavrix-map";
    // BUILD/bench/map/map_follow_bench; the program is BUILD/tools/tavrix-map.
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path().parent_path() / "tools" / "tavrix-map";
}

// One second of the line: a fix, then table reports up to the line's bytes.
std::vector<uint8_t> second(int s)
{
    DriveTestLog log;
    log.gpsAtSecond(52.2 + s * 0.0001, 0.1 + s * 0.0001, 43200 + s % 40000);
    for (int i = 0; log.bytes.size() + 20 <= size_t(kLineBytesPerSecond); ++i) {
        const int level = -60 - (s / 2) % 60 - (s * 7 + i * 3) % 5;
        log.table({{0, 4, level}, {0, 6, level - 3}, {1, 4, level + 2}, {0, 4, level - 1}});
    }
    return log.bytes;
}

void appendTo(const fs::path& path, const uint8_t* bytes, size_t n)
{
    std::FILE* f = std::fopen(path.c_str(), "ab");
    std::fwrite(bytes, 1, n, f);
    std::fclose(f);
}

void BM_FollowAtTheLineRate(benchmark::State& st)
{
    const fs::path dir = fs::temp_directory_path() / ("tavrix-follow-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path log = dir / "drive.KLF";
    {
        DriveTestLog header;
        header.header(0x03);
        appendTo(log, header.bytes.data(), header.bytes.size());
    }
    const std::string exe = tool().string(), settings = (dir / "s.ini").string(), logPath = log.string();
    std::vector<std::string> args = {exe, "--grid", "--settings", settings, "--follow", logPath, "--threshold", "-95"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    pid_t child = -1;
    if (posix_spawn(&child, exe.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        st.SkipWithError(("cannot start " + exe).c_str());
        return;
    }

    double share = 0;
    for (auto _ : st) {
        // The writer: each tenth of a second, the line's bytes since the last write.
        std::vector<uint8_t> pending;
        int s = 0;
        double owed = 0;
        const auto start = Clock::now();
        auto next = start;
        double cpuAtStart = 0;
        Clock::time_point measureFrom{};
        while (Clock::now() - start < std::chrono::seconds(kWarmUpSeconds + kMeasureSeconds)) {
            next += std::chrono::milliseconds(kWriteEveryMs);
            std::this_thread::sleep_until(next); // pacing the writer, not waiting for a result
            owed += kLineBytesPerSecond * kWriteEveryMs / 1000.0;
            while (pending.size() < owed) {
                const std::vector<uint8_t> more = second(s++);
                pending.insert(pending.end(), more.begin(), more.end());
            }
            const size_t n = size_t(owed);
            appendTo(log, pending.data(), n);
            pending.erase(pending.begin(), pending.begin() + ptrdiff_t(n));
            owed -= double(n);
            if (measureFrom == Clock::time_point{} && Clock::now() - start >= std::chrono::seconds(kWarmUpSeconds)) {
                measureFrom = Clock::now();
                cpuAtStart = cpuSeconds(child);
            }
        }
        const double wall = std::chrono::duration<double>(Clock::now() - measureFrom).count();
        share = (cpuSeconds(child) - cpuAtStart) / wall;
        st.SetIterationTime(wall);
    }
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    fs::remove_all(dir);
    st.counters["cpu_s_per_wall_s"] = share;
    st.counters["core_pct"] = share * 100;
    st.counters["line_bytes_per_s"] = kLineBytesPerSecond;
    std::printf("tavrix-map --follow at the line rate: %.4f CPU seconds per wall second (%.2f %% of a core)\n", share,
                share * 100);
}
BENCHMARK(BM_FollowAtTheLineRate)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
