#include "DriveLoader.h"

#include "drive/DriveReader.h"
#include "drive/DriveSink.h"

#include <QtConcurrent/QtConcurrentRun>

#include <cmath>
#include <set>

namespace {

constexpr std::size_t kMaxMeasures = 4096; // a table holds at most 3072 channels
constexpr int kSteps = 1000;                // of the progress

// 10 Hz steps: finer than any channel raster, coarse enough to merge
// rounding noise.
long long frequencyKey(double mhz) { return std::llround(mhz * 1e5); }

class LayerSink : public DriveSink
{
public:
    LayerSink(const DriveLoader::Choice& choice, PointLayer& layer)
        : m_choice(choice)
        , m_layer(layer)
    {
    }

    void sample(const DriveSample& s) override
    {
        if (s.receiver != m_choice.receiver)
            return;
        if (m_measures.size() < kMaxMeasures)
            m_measures.insert({s.channel, s.channel > 0 ? 0 : std::round(s.frequencyMHz * 1e5) / 1e5});
        if (!s.placed)
            return;
        if (m_choice.measure) {
            const auto& m = *m_choice.measure;
            const bool same = m.channel > 0 ? s.channel == m.channel
                                            : s.channel <= 0 && frequencyKey(s.frequencyMHz) == frequencyKey(m.frequencyMHz);
            if (same)
                m_layer.add(pointOf(s));
            return;
        }
        if (!m_pending || s.rssi > m_pending->rssi)
            m_pending = s;
    }

    // The samples between two fixes all come before the second of them.
    void fix(const DriveFix& f) override
    {
        if (f.used)
            flush();
    }

    void flush()
    {
        if (m_pending)
            m_layer.add(pointOf(*m_pending));
        m_pending.reset();
    }

    std::vector<DriveLoader::Measure> measures() const { return {m_measures.begin(), m_measures.end()}; }

private:
    static MapPoint pointOf(const DriveSample& s)
    {
        MapPoint p;
        p.latitude = s.latitude;
        p.longitude = s.longitude;
        p.rssi = s.rssi;
        p.timeMs = s.timeMs;
        p.receiver = s.receiver;
        p.channel = s.channel > 0 ? s.channel : -1;
        p.frequencyMHz = s.frequencyMHz;
        return p;
    }

    DriveLoader::Choice m_choice;
    PointLayer& m_layer;
    std::optional<DriveSample> m_pending;
    std::set<DriveLoader::Measure> m_measures;
};

} // namespace

bool DriveLoader::Measure::operator<(const Measure& o) const
{
    if (channel != o.channel)
        return channel < o.channel;
    return frequencyKey(frequencyMHz) < frequencyKey(o.frequencyMHz);
}

DriveLoader::DriveLoader(QObject* parent)
    : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
}

DriveLoader::~DriveLoader()
{
    if (m_read)
        m_read->cancel();
}

DriveLoader::Result DriveLoader::load(const QString& path, const Choice& choice, const RssiPalette& palette,
                                      const std::function<bool(double)>& progress)
{
    Result result;
    result.layer = PointLayer(path, palette);
    LayerSink sink(choice, result.layer);
    DriveReader reader;
    DriveFilter filter;
    filter.receiver = choice.receiver;
    reader.setFilter(filter);
    if (progress)
        reader.setProgress([&](uint64_t done, uint64_t total) {
            return progress(total ? double(done) / double(total) : 0.0);
        });
    result.summary = reader.read(path.toStdString(), sink);
    sink.flush();
    result.measures = sink.measures();
    result.cancelled = result.summary.status == DriveSummary::Status::Cancelled;
    return result;
}

void DriveLoader::start(const QString& path, const Choice& choice, const RssiPalette& palette)
{
    if (m_read) {
        m_read->cancel();
        // Its signals still queued reach nobody.
        m_read->disconnect(this);
        std::exchange(m_read, nullptr)->deleteLater();
    }
    m_result = Result();
    m_progress = 0;
    m_read = new QFutureWatcher<Result>(this);
    connect(m_read, &QFutureWatcher<Result>::progressValueChanged, this, [this](int value) {
        m_progress = double(value) / kSteps;
        emit progressChanged(m_progress);
    });
    connect(m_read, &QFutureWatcher<Result>::finished, this, &DriveLoader::read);
    m_read->setFuture(QtConcurrent::run(&m_pool, [path, choice, palette](QPromise<Result>& promise) {
        promise.setProgressRange(0, kSteps);
        promise.addResult(load(path, choice, palette, [&promise](double done) {
            promise.setProgressValue(int(done * kSteps));
            return !promise.isCanceled();
        }));
    }));
}

void DriveLoader::cancel()
{
    if (m_read)
        m_read->cancel();
}

// A cancelled read's result never reaches the future: it ends as cancelled.
void DriveLoader::read()
{
    QFutureWatcher<Result>* read = std::exchange(m_read, nullptr);
    read->deleteLater();
    m_result = read->isCanceled() ? Result() : read->future().takeResult();
    m_result.cancelled = m_result.cancelled || read->isCanceled();
    emit finished();
}
