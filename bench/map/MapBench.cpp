// tavrix-map's figures: a full redraw of 100,000 dots at 1920 × 1080, the
// time to open a 100 MB recorded drive, and the live window's idle CPU.
#include "drive/DriveTestLog.h"
#include "map/DriveLoader.h"
#include "map/MapRenderer.h"
#include "map/MapView.h"
#include "map/MapViewport.h"
#include "map/MapWindow.h"
#include "map/PointLayer.h"
#include "map/TileMath.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <numbers>
#include <random>

namespace {

// A drive as the emulator's route makes it: a 600 m loop driven again and
// again, every point a few metres off the line.
std::vector<PointLayer> routeLayers(int points)
{
    std::vector<PointLayer> layers(1, PointLayer(QStringLiteral("bench"), RssiPalette(-120, -50)));
    layers[0].reserve(std::size_t(points));
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> wander(-3e-5, 3e-5);
    std::uniform_int_distribution<int> rssi(-125, -45);
    for (int i = 0; i < points; ++i) {
        const double theta = i * 0.0231;
        MapPoint p;
        p.latitude = 40.5471 + 0.0054 * std::sin(theta) + wander(rng);
        p.longitude = -74.3803 + 0.0071 * std::cos(theta) * (1 + 0.3 * std::sin(3 * theta)) + wander(rng);
        p.rssi = rssi(rng);
        layers[0].add(p);
    }
    return layers;
}

void BM_RedrawDots(benchmark::State& st)
{
    const auto layers = routeLayers(int(st.range(0)));
    MapViewport viewport;
    viewport.setSize(QSizeF(1920, 1080));
    viewport.fit(layers[0].worldBounds());
    QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    MapRenderer renderer;
    int drawn = 0;
    for (auto _ : st)
        drawn = renderer.render(image, viewport, nullptr, layers, RssiPalette(), {});
    st.counters["dots_drawn"] = drawn;
}
BENCHMARK(BM_RedrawDots)->ArgName("points")->Arg(100000)->Unit(benchmark::kMillisecond);

// The same through the widget, as a pan repaints it.
void BM_RedrawViewPanning(benchmark::State& st)
{
    MapView view;
    view.resize(1920, 1080);
    view.layers() = routeLayers(100000);
    view.fitDrive();
    int step = 0;
    for (auto _ : st) {
        view.viewport().panBy(QPointF((step++ % 2) ? 7 : -7, 3));
        benchmark::DoNotOptimize(view.renderImage());
    }
}
BENCHMARK(BM_RedrawViewPanning)->Unit(benchmark::kMillisecond);

// About 100 MB: scan reports at the line rate's 40 a second with a GPS fix
// each second.
QString writeBigDrive(const QTemporaryDir& dir, std::size_t bytes)
{
    const QString path = dir.filePath(QStringLiteral("big.KLF"));
    std::FILE* f = std::fopen(path.toLocal8Bit().constData(), "wb");
    DriveTestLog log;
    log.header(0x03).scanChannelList();
    std::size_t written = 0;
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> rssi(-120, -40);
    for (int second = 0; written < bytes; ++second) {
        const double theta = second * 0.02;
        log.gps(40.5471 + 0.0054 * std::sin(theta), -74.3803 + 0.0071 * std::cos(theta), second % 60);
        for (int k = 0; k < 40; ++k)
            log.scan({{0, k % 10, rssi(rng)}, {1, (k + 3) % 10, rssi(rng)}, {0, (k + 5) % 10, rssi(rng)}});
        if (log.bytes.size() > (1 << 20)) {
            written += std::fwrite(log.bytes.data(), 1, log.bytes.size(), f);
            log.bytes.clear();
        }
    }
    std::fwrite(log.bytes.data(), 1, log.bytes.size(), f);
    std::fclose(f);
    return path;
}

void BM_OpenDrive100MB(benchmark::State& st)
{
    QTemporaryDir dir;
    const QString path = writeBigDrive(dir, 100u << 20);
    std::size_t dots = 0;
    int progressCalls = 0;
    for (auto _ : st) {
        DriveLoader::Result r = DriveLoader::load(path, {0, std::nullopt}, RssiPalette(), [&](double) {
            ++progressCalls;
            return true;
        });
        dots = r.layer.size();
    }
    st.counters["dots"] = double(dots);
    st.counters["progress_updates"] = double(progressCalls) / double(st.iterations());
    st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(QFileInfo(path).size()));
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    st.counters["peak_resident_MB"] = double(u.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_OpenDrive100MB)->Unit(benchmark::kMillisecond)->Iterations(3);

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The live window with nothing arriving: arg 1 polls the block every 200 ms
// (no session bus), arg 0 waits for the signal.
void BM_LiveIdle(benchmark::State& st)
{
    QTemporaryDir dir;
    MapWindow::Options o;
    o.settingsFile = dir.filePath(QStringLiteral("s.ini"));
    o.grid = true;
    o.poll = st.range(0) == 1;
    o.blockName = QStringLiteral("tavrix-bench-idle-%1").arg(getpid());
    MapWindow window(o);
    window.show();
    window.startLive();
    QApplication::processEvents();
    double share = 0;
    for (auto _ : st) {
        const double cpu0 = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        QEventLoop idle;
        QTimer::singleShot(10000, &idle, &QEventLoop::quit);
        idle.exec();
        share = 100.0 * (cpuSeconds() - cpu0) / (clock.elapsed() / 1000.0);
    }
    st.counters["core_pct"] = share;
}
BENCHMARK(BM_LiveIdle)->ArgName("poll")->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);

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
