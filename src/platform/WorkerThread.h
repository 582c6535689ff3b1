#pragma once

#include <QDeadlineTimer>
#include <QThread>

#include <atomic>
#include <climits>
#include <functional>

// Base of every worker: a QThread with the create / Execute / Terminate /
// Terminated vocabulary the workers are written in, and Synchronize, the
// blocking hand-over of a piece of work to the window thread.
//
// Shutdown: the window sets each worker's terminate flag; then main calls
// shutdownAll(), which stops any pending or future Synchronize from running
// (they return false at once) and joins every worker still alive. A worker
// blocked in Synchronize therefore never holds up the exit. The live workers
// and the calls in flight are kept in one process-wide registry, which is
// never destroyed (see WorkerThread.cpp).
class WorkerThread : public QThread
{
    Q_OBJECT
public:
    explicit WorkerThread(QObject* parent = nullptr);
    ~WorkerThread() override;

    void Terminate()
    {
        m_terminated.store(true);
        terminateRequested();
    }
    bool Terminated() const { return m_terminated.load(); }

    // Runs fn on the window thread and waits for it. On the window thread it
    // runs fn directly. Returns false without running fn once shutdown began.
    static bool Synchronize(const std::function<void()>& fn);

    // Marks the program as closing, terminates and joins every live worker.
    static void shutdownAll();
    static bool closing();
    // After shutdownAll, lets a new set of workers run in the same process
    // (tests that start the whole program more than once).
    static void reopen();

    // QThread::wait, then joined(): once it returns true, everything the
    // thread did is ordered before the caller's next step for thread checkers
    // too. It hides QThread::wait so that every join through a worker, such
    // as a subclass destructor's before it frees what the thread used, gets
    // that order; only a join through a plain QThread pointer does not.
    bool wait(QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));
    bool wait(unsigned long timeMs)
    {
        return wait(timeMs == ULONG_MAX ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(qint64(timeMs)));
    }

    // After QThread::wait returned true: orders everything the thread did
    // before the caller's next step for thread checkers too.
    void joined() const;

protected:
    virtual void Execute() = 0;
    // Called by Terminate() on the caller's thread, after the flag is set:
    // a worker that blocks on something other than its events wakes itself.
    virtual void terminateRequested() {}

private:
    void run() final;
    std::atomic<bool> m_terminated{false};
    std::atomic<bool> m_executed{false};
};
