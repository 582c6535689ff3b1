// A recorded drive's scan history in tavrix-map, on an 8-hour log: scan
// reports at the line rate (192 a second) and a GPS fix each second, 5.6
// million records. Figures: building the drive's index when the drive is
// opened, and a seek to a random moment: the marker's place and the reports
// around it read and put in the waterfall's history, then the same through
// the panel on the screen (the worker's read, the waterfall drawn).
#include "display/ScanHistory.h"
#include "display/WaterfallView.h"
#include "drive/DriveIndex.h"
#include "drive/DriveTestLog.h"
#include "map/DriveHistoryPanel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cmath>
#include <memory>
#include <random>

namespace {

constexpr int kHours = 8;
constexpr int kReportsPerSecond = 192;
constexpr int kStartSecond = 6 * 3600; // 06:00 UTC: the drive ends at 14:00

struct EightHourDrive
{
    EightHourDrive()
    {
        path = dir.filePath(QStringLiteral("8h.KLF")).toStdString();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        DriveTestLog ci;
        ci.scanChannelList();
        DriveTestLog log;
        log.header(0x03, ci.bytes);
        std::mt19937 rng(11);
        std::uniform_int_distribution<int> rssi(-125, -40);
        for (int second = 0; second < kHours * 3600; ++second) {
            const double theta = second * 0.002;
            log.gpsAtSecond(40.5471 + 0.05 * std::sin(theta), -74.3803 + 0.07 * std::cos(theta), kStartSecond + second);
            for (int k = 0; k < kReportsPerSecond; ++k)
                log.scan({{0, k % 10, rssi(rng)}, {1, (k + 3) % 10, rssi(rng)}, {0, (k + 5) % 10, rssi(rng)}});
            if (log.bytes.size() > (1u << 20)) {
                std::fwrite(log.bytes.data(), 1, log.bytes.size(), f);
                bytes += log.bytes.size();
                log.bytes.clear();
            }
        }
        std::fwrite(log.bytes.data(), 1, log.bytes.size(), f);
        bytes += log.bytes.size();
        std::fclose(f);
        index.build(path);
    }

    QTemporaryDir dir;
    std::string path;
    std::size_t bytes = 0;
    DriveIndex index;
};

EightHourDrive& drive()
{
    static EightHourDrive d;
    return d;
}

double peakResidentMB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

void BM_DriveIndexBuild8h(benchmark::State& st)
{
    EightHourDrive& d = drive();
    DriveIndex index;
    for (auto _ : st)
        benchmark::DoNotOptimize(index.build(d.path));
    st.counters["records"] = double(index.records());
    st.counters["fixes"] = double(index.fixes().size());
    st.counters["log_MB"] = double(d.bytes) / (1 << 20);
    st.counters["index_MB"] = double(index.memoryBytes()) / (1 << 20);
    st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(d.bytes));
}
BENCHMARK(BM_DriveIndexBuild8h)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Without widgets: where the marker goes, and the stretch of reports around
// the cursor read and put in a history as the waterfall shows it.
void BM_DriveSeek8h(benchmark::State& st)
{
    EightHourDrive& d = drive();
    std::FILE* f = std::fopen(d.path.c_str(), "rb");
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<uint64_t> at(0, d.index.records() - 1);
    ScanHistory history(DriveHistoryPanel::kStretchRecords);
    std::vector<DriveReports::Report> reports;
    std::size_t rows = 0;
    for (auto _ : st) {
        const uint64_t cursor = at(rng);
        benchmark::DoNotOptimize(d.index.positionAt(cursor));
        const uint64_t from = cursor > DriveHistoryPanel::kStretchRecords / 2 ? cursor - DriveHistoryPanel::kStretchRecords / 2 : 0;
        reports.clear();
        d.index.readReports(f, from, from + DriveHistoryPanel::kStretchRecords, reports);
        history.clear();
        ReceiverSettings now;
        for (const DriveReports::Report& r : reports) {
            if (r.receiver != 0)
                continue;
            if (r.report.settings)
                now = *r.report.settings;
            now.current = r.current;
            history.add(r.report, now);
        }
        rows = history.endRow() - history.firstRow();
    }
    std::fclose(f);
    st.counters["rows"] = double(rows);
}
BENCHMARK(BM_DriveSeek8h)->Unit(benchmark::kMillisecond)->UseRealTime();

// Through the panel on the screen: from setCursor to the waterfall drawn
// round the new cursor row, the read done on the panel's worker.
void BM_DriveSeekOnScreen8h(benchmark::State& st)
{
    EightHourDrive& d = drive();
    auto index = std::make_shared<DriveIndex>(d.index);
    DriveHistoryPanel panel;
    panel.resize(1100, 260);
    panel.show();
    panel.setDrive(QString::fromStdString(d.path), index);
    std::mt19937_64 rng(9);
    std::uniform_int_distribution<uint64_t> at(0, index->records() - 1);
    double worstMs = 0;
    for (auto _ : st) {
        QElapsedTimer clock;
        clock.start();
        panel.setCursor(at(rng));
        while (!panel.settled())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        QCoreApplication::processEvents(); // the waterfall's paint
        worstMs = std::max(worstMs, clock.nsecsElapsed() / 1e6);
    }
    st.counters["worst_ms"] = worstMs;
    st.counters["peak_resident_MB"] = peakResidentMB();
}
BENCHMARK(BM_DriveSeekOnScreen8h)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
