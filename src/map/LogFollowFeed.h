#pragma once

#include "FollowBatch.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class KlfFollower;

// A .KLF log followed while the logger writes it, read and modelled on a
// worker: the drive model over the growing file, its samples binned into
// coverage cells and acceptance tiles. What arrives is batched: a batch
// goes to the window at most every kBatchMs (sooner after a quiet spell),
// so a log growing at the line rate costs a few small updates a second and
// the map is never more than a batch behind the file. An initial catch-up
// of a long log runs on the worker and can be stopped half-way.
//
// The worker never touches a widget: batches wait in a mailbox, and a
// queued call tells the window to take them. They are not the future's
// results: a future keeps every result it was given for as long as it
// lives, a day's batches; and its progress signal is thinned out, which
// could hold back the last batch of a burst. Stopping sets a flag and wakes
// the follower's wait; stop() returns once the worker has ended.
class LogFollowFeed : public QObject
{
    Q_OBJECT
public:
    static constexpr int kBatchMs = 500;
    // Without inotify (its limits reached) a look this often keeps the map current.
    static constexpr int kIdleLookMs = 1000;

    struct Settings
    {
        QString path;
        double cellMetres = 50;  // the coverage cells
        double tileMetres = 100; // the acceptance tiles
    };

    explicit LogFollowFeed(QObject* parent = nullptr);
    ~LogFollowFeed() override;

    void start(const Settings& settings);
    void stop();
    bool running() const;

    // The batches that came since the last call, oldest first.
    std::vector<FollowBatch> take();
    // Batches handed over so far: for tests and the bench to wait on.
    uint64_t batches() const { return m_batches; }
    // The end of the last whole record the latest batch taken holds.
    uint64_t offset() const { return m_offset; }

signals:
    // Batches are waiting in take().
    void arrived();

private:
    struct Shared
    {
        std::atomic<bool> stop{false};
        std::mutex mutex;
        KlfFollower* follower = nullptr; // while the worker runs
        std::vector<FollowBatch> mailbox;
    };

    static void run(const Settings& settings, const std::shared_ptr<Shared>& shared, LogFollowFeed* feed);

    QThreadPool m_pool; // one thread, this feed's only
    QFutureWatcher<void>* m_watcher = nullptr;
    std::shared_ptr<Shared> m_shared;
    uint64_t m_batches = 0;
    uint64_t m_offset = 0;
};
