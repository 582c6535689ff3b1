#include "platform/WorkerThread.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class CountingWorker : public WorkerThread
{
public:
    std::atomic<int> synced{0};
    std::atomic<int> returnedFalse{0};
    std::atomic<bool> ranOnWindowThread{true};
    std::atomic<int> calls{0}; // Synchronize entered

protected:
    void Execute() override
    {
        while (!Terminated()) {
            ++calls;
            const bool ran = Synchronize([this] {
                if (QThread::currentThread() != QCoreApplication::instance()->thread())
                    ranOnWindowThread = false;
                ++synced;
            });
            if (!ran)
                ++returnedFalse;
        }
    }
};

} // namespace

TEST(WorkerThread, SynchronizeRunsOnWindowThreadAndWaits)
{
    CountingWorker worker;
    worker.start();
    while (worker.synced < 5)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.Terminate();
    while (!worker.wait(1))
        QCoreApplication::processEvents();
    EXPECT_TRUE(worker.ranOnWindowThread);
    EXPECT_EQ(worker.returnedFalse, 0);
}

TEST(WorkerThread, SynchronizeOnWindowThreadRunsDirectly)
{
    int n = 0;
    EXPECT_TRUE(WorkerThread::Synchronize([&] { ++n; }));
    EXPECT_EQ(n, 1);
}

TEST(WorkerThreadShutdown, PendingSynchronizeIsAbandonedAndWorkersJoin)
{
    CountingWorker worker;
    worker.start();
    // The window thread serves no events here, so once the worker has called
    // Synchronize it is stuck there; shutdownAll must release and join it.
    while (worker.calls.load() == 0)
        std::this_thread::yield();
    WorkerThread::shutdownAll();
    EXPECT_TRUE(worker.isFinished());
    EXPECT_GE(worker.returnedFalse, 1);

    // After shutdown, a late caller off the window thread returns at once.
    bool ran = false, result = true;
    std::thread late([&] { result = WorkerThread::Synchronize([&] { ran = true; }); });
    late.join();
    EXPECT_FALSE(result);
    EXPECT_FALSE(ran);
    WorkerThread::reopen(); // so the order of the tests does not matter
}
