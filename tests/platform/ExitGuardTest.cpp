// exit() called while workers run, as Qt's platform plugins do when the
// display connection breaks. Each case runs in a child process.
#include "platform/ExitGuard.h"
#include "platform/WorkerThread.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

// Sits in Synchronize, which nobody serves: the window thread is the one
// calling exit().
class WaitingWorker : public WorkerThread
{
public:
    std::atomic<bool> inSynchronize{false};
    std::atomic<bool> finished{false};

protected:
    void Execute() override
    {
        while (!Terminated()) {
            inSynchronize = true;
            Synchronize([] {});
        }
        finished = true;
    }
};

// Starts a worker, waits until it is inside Synchronize, then exits with 3.
[[noreturn]] void exitWhileAWorkerWaits(bool guarded)
{
    auto* worker = new WaitingWorker; // never freed: its thread may outlive it
    worker->start();
    while (!worker->inSynchronize.load())
        QThread::yieldCurrentThread();
    if (guarded) {
        // On the heap, as main's is on its stack: exit() destroys neither.
        new ExitGuard([worker] {
            WorkerThread::shutdownAll();
            std::fprintf(stderr, "closed: worker %s\n", worker->finished.load() ? "joined" : "running");
        });
        std::exit(3);
    }
    std::exit(3);
}

} // namespace

TEST(ExitGuard, ExitWhileArmedStopsTheWorkersBeforeAnythingIsFreed)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exitWhileAWorkerWaits(true), testing::ExitedWithCode(ExitGuard::kStatus), "closed: worker joined");
}

TEST(ExitGuard, ExitWithoutAGuardLeavesTheWaitingWorkerUnharmed)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The worker registry outlives exit: no crash, the status is exit's own.
    EXPECT_EXIT(exitWhileAWorkerWaits(false), testing::ExitedWithCode(3), "");
}

TEST(ExitGuard, ADisarmedGuardDoesNothing)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            {
                ExitGuard guard([] { std::fputs("ran\n", stderr); });
            }
            std::exit(4);
        },
        testing::ExitedWithCode(4), "^$");
}
