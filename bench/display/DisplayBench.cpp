// Targets: one table-mode display update under 2 ms on the single-panel size
// and on a full-HD control; the table ranking alone under 50 us.
// BM_UpdateAndPaint is the window thread's whole share of an update as the
// program runs it: the bars drawn, then the widget painted into its backing
// store; with the CPU of every thread (Qt may hand a paint's work to its
// pool) and the pool's wake-ups counted.
#include "display/DBar.h"
#include "display/ReceiverGraphView.h"
#include "display/TR_Router.h"
#include "display/TableRanking.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QToolButton>
#include <QWidget>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

// strong: every level up to -1 dBm, so the ten bars stand at full height
// (the most pixels to draw). typical: a noise floor around -110 dBm with a
// few dozen channels between -90 and -40 dBm.
void fillTable(SampleBuffers& samples, int r, unsigned seed, bool strong)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> any(-128, -1);
    std::uniform_int_distribution<int> noise(-118, -100);
    std::uniform_int_distribution<int> signal(-90, -40);
    std::uniform_int_distribution<int> pick(0, 99);
    for (int8_t& b : samples.tableRssi[r])
        b = int8_t(strong ? any(rng) : (pick(rng) == 0 ? signal(rng) : noise(rng)));
}

// A receiver panel as the window builds it: the graph, the mode buttons its
// display thread reads, and that thread's object (not started).
struct GraphRig
{
    GraphRig(DeviceRecord& device, SampleBuffers& samples, int width, int height, bool tableMode)
    {
        panel.resize(width, height);
        for (QToolButton* b : {&single, &table, &frequency})
            b->setCheckable(true);
        table.setChecked(tableMode);
        frequency.setChecked(true);
        graph = new DBar(&panel);
        configureReceiverGraph(*graph);
        PlaceGraph(graph, 0, 0, width, height);
        router = std::make_unique<TR_Router>(
            0, device, samples,
            std::make_unique<ReceiverGraphView>(graph, ReceiverDisplayControls{&single, &table, &frequency}), TR_Router::Hooks{},
            true);
    }

    QWidget panel;
    QToolButton single, table, frequency;
    DBar* graph = nullptr;
    std::unique_ptr<TR_Router> router;
};

void BM_UpdateDisplayTable(benchmark::State& st)
{
    const int width = int(st.range(0));
    const int height = int(st.range(1));
    DeviceRecord device;
    auto samples = std::make_unique<SampleBuffers>();
    const uint8_t block[12] = {0x70, 0x17, 0, 0, 0x58, 0x1B, 0, 0, 0x00, 0x19, 0, 0};
    device.edit([&](DeviceRecord::Data& d) { d.receiverSettings[0].storeBlock(block); });
    // Two tables taken in turns: an update whose bars are the ones shown
    // draws nothing, and the figure is the cost of a changed picture.
    int8_t tables[2][SampleBuffers::kTableSize];
    for (int t = 0; t < 2; ++t) {
        fillTable(*samples, 0, unsigned(2 - t), st.range(2) != 0);
        std::memcpy(tables[t], samples->tableRssi[0], sizeof tables[t]);
    }

    GraphRig rig(device, *samples, width, height, true);

    bool turn = false;
    for (auto _ : st) {
        std::memcpy(samples->tableRssi[0], tables[turn ? 1 : 0], sizeof tables[0]);
        turn = !turn;
        rig.router->UpdateDisplay();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_UpdateDisplayTable)
    ->ArgNames({"width", "height", "strong"})
    ->Args({684, 453, 0})
    ->Args({684, 453, 1})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Unit(benchmark::kMicrosecond);

// Times Qt's pool threads ("Thread (pooled)") were scheduled in so far.
long poolRuns()
{
    long runs = 0;
    const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& tid : tasks) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
        if (!comm.open(QIODevice::ReadOnly) || !comm.readAll().startsWith("Thread (pooled)"))
            continue;
        QFile stat(QStringLiteral("/proc/self/task/%1/schedstat").arg(tid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> fields = stat.readAll().split(' ');
        if (fields.size() >= 3)
            runs += fields[2].trimmed().toLong();
    }
    return runs;
}

// mode 0: table, each update a changed picture; `pictures` tables taken in
// turns, so 2 repeats the same labels and 64 brings ones not drawn lately.
// mode 1: scan, ten fixed channels at levels that change every update.
void BM_UpdateAndPaint(benchmark::State& st)
{
    const bool scan = st.range(0) == 1;
    const int pictures = int(st.range(1));
    const int width = int(st.range(2));
    const int height = int(st.range(3));
    DeviceRecord device;
    auto samples = std::make_unique<SampleBuffers>();
    const uint8_t block[12] = {0x70, 0x17, 0, 0, 0x58, 0x1B, 0, 0, 0x00, 0x19, 0, 0};
    device.edit([&](DeviceRecord::Data& d) {
        d.receiverSettings[0].storeBlock(block);
        for (size_t k = 0; k < d.receiverSettings[0].scanChannels.size(); ++k)
            d.receiverSettings[0].scanChannels[k] = uint32_t(40 + 97 * k);
        d.receiverSettings[0].scanChannelsKnown = true;
    });
    std::vector<std::vector<int8_t>> tables;
    for (int t = 0; t < pictures; ++t) {
        fillTable(*samples, 0, unsigned(2 - t), false);
        tables.emplace_back(samples->tableRssi[0], samples->tableRssi[0] + SampleBuffers::kTableSize);
    }
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> level(-100, -45);

    GraphRig rig(device, *samples, width, height, !scan);
    rig.panel.show();
    QCoreApplication::processEvents();

    const long poolBefore = poolRuns();
    size_t turn = 0;
    for (auto _ : st) {
        if (scan) {
            for (int k = 0; k < SampleBuffers::kScanSlots; ++k)
                samples->scanRssi[0][k] = int8_t(level(rng));
        } else {
            std::memcpy(samples->tableRssi[0], tables[turn % tables.size()].data(), SampleBuffers::kTableSize);
        }
        ++turn;
        rig.router->UpdateDisplay();
        QCoreApplication::processEvents(); // the paint the update asked for
    }
    st.counters["pool_wakeups_per_update"] =
        benchmark::Counter(double(poolRuns() - poolBefore) / double(std::max<size_t>(turn, 1)));
}
BENCHMARK(BM_UpdateAndPaint)
    ->ArgNames({"scan", "pictures", "width", "height"})
    ->Args({0, 2, 684, 453})
    ->Args({0, 64, 684, 453})
    ->Args({1, 0, 684, 453})
    ->Args({0, 2, 1920, 1080})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

void BM_TableRanking(benchmark::State& st)
{
    auto samples = std::make_unique<SampleBuffers>();
    if (st.range(0) == 0) {
        fillTable(*samples, 0, 2, true);
    } else {
        // Rising levels: every entry enters at the top, the worst case.
        for (int j = 0; j < SampleBuffers::kTableSize; ++j)
            samples->tableRssi[0][j] = int8_t(-119 + j * 118 / SampleBuffers::kTableSize);
    }
    for (auto _ : st)
        benchmark::DoNotOptimize(TableRanking::rank(samples->tableRssi[0], SampleBuffers::kTableSize));
}
BENCHMARK(BM_TableRanking)->ArgName("rising")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    // Offscreen unless told otherwise: QT_QPA_PLATFORM=xcb measures the
    // paints through a real X server's backing store.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
