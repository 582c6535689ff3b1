#pragma once

#include <QThread>

#include <atomic>
#include <functional>

// Base of every worker: a QThread with the create / Execute / Terminate /
// Terminated vocabulary the workers are written in, and Synchronize, the
// blocking hand-over of a piece of work to the window thread.
//
// Shutdown: the window sets each worker's terminate flag; then main calls
// shutdownAll(), which stops any pending or future Synchronize from running
// (they return false at once) and joins every worker still alive. A worker
// blocked in Synchronize therefore never holds up the exit.
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

    // After wait() returned true: orders everything the thread did before
    // the caller's next step for thread checkers too (the destructor and
    // shutdownAll call it; so should a caller that frees what the thread used).
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
