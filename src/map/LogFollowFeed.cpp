#include "LogFollowFeed.h"

#include "coverage/AcceptanceProgress.h"
#include "coverage/CoverageCells.h"
#include "drive/DriveFollower.h"

#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <chrono>
#include <climits>

namespace {

using Clock = std::chrono::steady_clock;

// Thrown from the sink to leave a catch-up half-way when the feed stops:
// the drive model has no other way out of a long read, and everything it
// leaves half-done is dropped with it.
struct Stopped
{
};

// The drive as the feed shows it: every sample binned into cells and tiles,
// a dot per used fix with the strongest reading placed on the way to it.
class Sink : public DriveSink
{
public:
    Sink(const LogFollowFeed::Settings& s, const std::atomic<bool>& stop)
        : cells(s.cellMetres), tiles(s.tileMetres), m_stop(stop)
    {
    }

    void fix(const DriveFix& f) override
    {
        if (m_stop.load(std::memory_order_relaxed))
            throw Stopped();
        cells.fix(f);
        tiles.fix(f);
        if (!f.used)
            return;
        MapPoint p;
        p.latitude = f.latitude;
        p.longitude = f.longitude;
        p.timeMs = f.timeMs;
        lastFix = p;
        ++added;
        if (m_strongest == INT_MIN)
            return; // nothing measured on the way here
        p.rssi = m_strongest;
        p.receiver = m_receiver;
        p.frequencyMHz = m_frequencyMHz;
        p.channel = m_channel > 0 ? m_channel : -1;
        points.push_back(p);
        m_strongest = INT_MIN;
    }

    void sample(const DriveSample& s) override
    {
        if (m_stop.load(std::memory_order_relaxed))
            throw Stopped();
        cells.sample(s);
        tiles.sample(s);
        if (!s.placed)
            return;
        ++added;
        if (s.rssi > m_strongest) {
            m_strongest = s.rssi;
            m_receiver = s.receiver;
            m_frequencyMHz = s.frequencyMHz;
            m_channel = s.channel;
        }
    }

    AcceptanceProgress cells;
    AcceptanceProgress tiles;
    std::vector<MapPoint> points;
    std::optional<MapPoint> lastFix;
    uint64_t added = 0; // since the last batch

private:
    const std::atomic<bool>& m_stop;
    int m_strongest = INT_MIN;
    int m_receiver = -1;
    double m_frequencyMHz = 0;
    int m_channel = 0;
};

// Moves what the sink gathered into a batch.
void fill(FollowBatch& b, Sink& sink, const DriveFollower& follower)
{
    b.points = std::move(sink.points);
    sink.points.clear();
    sink.added = 0;
    const CoverageGrid& grid = sink.cells.grid();
    for (const AcceptanceProgress::Touched& t : sink.cells.commit()) {
        const RssiHistogram& h = sink.cells.input().channels.at({t.receiver, t.frequency}).tiles.at(t.tile).histogram;
        CoverageMapReader::Cell c;
        c.bounds = grid.bounds(CoverageGrid::cellOfKey(t.tile));
        c.cellKey = t.tile;
        c.receiver = t.receiver;
        c.frequencyMHz = CoverageCells::frequencyMHz(t.frequency);
        c.figures = h.figures();
        c.drives = 1;
        b.cells.push_back(c);
    }
    for (const AcceptanceProgress::Touched& t : sink.tiles.commit())
        b.tiles.push_back({t.receiver, t.frequency, t.tile,
                           sink.tiles.input().channels.at({t.receiver, t.frequency}).tiles.at(t.tile).histogram});
    for (const auto& [key, c] : sink.tiles.input().channels)
        b.channels.push_back({c.receiver, c.frequency, c.channel});
    b.lastFix = sink.lastFix;
    b.offset = follower.offset();
    b.records = follower.summary().records;
    b.serialNumber = QString::fromStdString(follower.summary().serialNumber);
}

} // namespace

LogFollowFeed::LogFollowFeed(QObject* parent) : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
}

LogFollowFeed::~LogFollowFeed()
{
    stop();
}

bool LogFollowFeed::running() const
{
    return m_watcher && !m_watcher->isFinished();
}

void LogFollowFeed::start(const Settings& settings)
{
    stop();
    m_shared = std::make_shared<Shared>();
    m_batches = 0;
    m_offset = 0;
    m_watcher = new QFutureWatcher<void>(this);
    m_watcher->setFuture(QtConcurrent::run(&m_pool, [settings, shared = m_shared, this] { run(settings, shared, this); }));
}

void LogFollowFeed::stop()
{
    if (!m_shared)
        return;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->stop = true;
        if (m_shared->follower)
            m_shared->follower->wake();
    }
    m_pool.waitForDone();
    delete std::exchange(m_watcher, nullptr);
    m_shared->mailbox.clear();
    m_shared.reset();
}

std::vector<FollowBatch> LogFollowFeed::take()
{
    if (!m_shared)
        return {};
    std::vector<FollowBatch> batches;
    {
        const std::lock_guard lock(m_shared->mutex);
        batches.swap(m_shared->mailbox);
    }
    m_batches += batches.size();
    if (!batches.empty())
        m_offset = batches.back().offset;
    return batches;
}

void LogFollowFeed::run(const Settings& settings, const std::shared_ptr<Shared>& shared, LogFollowFeed* feed)
{
    const QString name = QFileInfo(settings.path).fileName();
    auto post = [&](FollowBatch&& b) {
        {
            const std::lock_guard lock(shared->mutex);
            shared->mailbox.push_back(std::move(b));
        }
        // Queued: the window takes the batch on its own thread. The feed
        // outlives this worker, which stop() waits for.
        QMetaObject::invokeMethod(feed, [feed] { emit feed->arrived(); }, Qt::QueuedConnection);
    };

    auto sink = std::make_unique<Sink>(settings, shared->stop);
    auto follower = std::make_unique<DriveFollower>(settings.path.toStdString(), *sink);
    {
        const std::lock_guard lock(shared->mutex);
        if (shared->stop)
            return;
        shared->follower = &follower->log();
    }
    try {
        FollowBatch::Event event = FollowBatch::Event::None, said = FollowBatch::Event::None;
        QString message;
        bool restart = false, stoppedSaid = false;
        bool opened = follower->open();
        if (opened) {
            event = FollowBatch::Event::Opened;
            message = tr("Following %1").arg(name);
        } else {
            event = FollowBatch::Event::Waiting;
            message = tr("Waiting for %1: %2").arg(name, QString::fromStdString(follower->summary().error));
        }
        Clock::time_point lastPost = Clock::now() - std::chrono::milliseconds(kBatchMs);
        uint64_t postedOffset = 0;
        while (!shared->stop) {
            switch (follower->update()) {
            case DriveFollower::Change::Replaced:
                // Another log at the name (or the first one, waited for):
                // it is followed from its start, and nothing of the old one stays.
                {
                    auto fresh = std::make_unique<Sink>(settings, shared->stop);
                    auto next = std::make_unique<DriveFollower>(settings.path.toStdString(), *fresh);
                    const std::lock_guard lock(shared->mutex);
                    shared->follower = &next->log();
                    follower = std::move(next);
                    sink = std::move(fresh);
                }
                restart = true;
                stoppedSaid = false;
                event = opened ? FollowBatch::Event::Replaced : FollowBatch::Event::Opened;
                message = opened ? tr("%1 was replaced by another log: starting over").arg(name)
                                 : tr("Following %1").arg(name);
                opened = follower->open();
                if (!opened) {
                    event = FollowBatch::Event::Waiting;
                    message = tr("Waiting for %1: %2").arg(name, QString::fromStdString(follower->summary().error));
                }
                follower->update();
                break;
            case DriveFollower::Change::Deleted:
                if (!opened)
                    break; // still waiting for the first
                event = FollowBatch::Event::Deleted;
                message = tr("%1 was deleted: waiting for the logger's next file under its name").arg(name);
                break;
            case DriveFollower::Change::CutBack:
                event = FollowBatch::Event::CutBack;
                message = tr("%1: a record cut short was cut off; logging went on").arg(name);
                break;
            case DriveFollower::Change::Grew:
            case DriveFollower::Change::None:
                break;
            }
            if (!stoppedSaid && opened && follower->summary().status == DriveSummary::Status::Malformed) {
                stoppedSaid = true;
                event = FollowBatch::Event::Stopped;
                message = tr("%1 stopped making sense: %2; what came before is shown")
                              .arg(name, QString::fromStdString(follower->summary().error));
            }
            // An event that holds (a deleted log stays deleted) is said once.
            const bool newEvent = event != FollowBatch::Event::None && (event != said || restart);
            const auto now = Clock::now();
            const auto due = lastPost + std::chrono::milliseconds(kBatchMs);
            // Records that gave nothing to draw yet (samples waiting for the
            // next fix) still move the offset the window reports.
            const bool pending = sink->added > 0 || follower->offset() != postedOffset;
            if (newEvent || (pending && now >= due)) {
                FollowBatch b;
                if (newEvent) {
                    b.event = event;
                    b.message = message;
                    said = event;
                }
                b.restart = std::exchange(restart, false);
                fill(b, *sink, *follower);
                post(std::move(b));
                postedOffset = follower->offset();
                lastPost = now;
                event = FollowBatch::Event::None;
            }
            int waitMs = kIdleLookMs;
            if (sink->added > 0 || follower->offset() != postedOffset)
                waitMs = int(std::max<int64_t>(
                    0, std::chrono::duration_cast<std::chrono::milliseconds>(lastPost + std::chrono::milliseconds(kBatchMs) - Clock::now())
                           .count()));
            follower->log().wait(waitMs);
        }
    } catch (const Stopped&) {
    }
    const std::lock_guard lock(shared->mutex);
    shared->follower = nullptr;
}
