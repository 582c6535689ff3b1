#pragma once

#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

// One piece of work at a time on a worker thread, for the map window's
// loaders: a newer start stops and joins the one before, the end is reported
// on the owner's thread, and the result the work leaves under resultMutex()
// is ordered before the owner's next step once join() returned.
//
// The owner declares its BackgroundRun after the members the work writes:
// it is destroyed first, and its destructor stops and joins the work.
class BackgroundRun
{
public:
    // What the work sees: its progress to set, and whether to stop.
    struct Control
    {
        std::atomic<double>& progress;
        const std::atomic<bool>& stop;
        bool stopped() const { return stop.load(); }
    };

    BackgroundRun() = default;
    ~BackgroundRun();
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    // Stops and joins the run before, then runs work on a new thread. done is
    // called on owner's thread once the work ended, unless a newer start or a
    // forget() came meanwhile.
    void start(QObject* owner, std::function<void(const Control&)> work, std::function<void()> done);
    // Asks the running work to stop; it still ends as usual.
    void stop() { m_stop = true; }
    // The running work's end is no longer reported.
    void forget() { ++m_generation; }
    // QThread::wait, then resultMutex(): the work's last step is under it, so
    // everything the work did is ordered before the caller's next step for
    // thread checkers too (Qt's join is invisible to them).
    void join();
    bool running() const { return m_thread && m_thread->isRunning(); }
    double progress() const { return m_progress.load(); }
    std::mutex& resultMutex() const { return m_resultMutex; }

private:
    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<double> m_progress{0};
    mutable std::mutex m_resultMutex;
    int m_generation = 0; // of the latest start, or the forget() after it
};
