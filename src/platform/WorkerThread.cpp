#include "WorkerThread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// A Synchronize call in flight. The window-thread side runs the work only if
// the caller has not abandoned it; the caller abandons only work that has not
// started, so fn never runs after its captures are gone.
struct SyncCall
{
    std::function<void()> fn;
    std::mutex mutex;
    std::condition_variable cond;
    bool started = false;
    bool done = false;
    bool abandoned = false;
};

struct Registry
{
    std::mutex mutex;
    // Read lock-free inside a SyncCall's wait, whose mutex shutdownAll takes
    // after this one: a plain flag under `mutex` would invert the lock order.
    std::atomic<bool> closing{false};
    std::vector<WorkerThread*> workers;
    std::vector<std::shared_ptr<SyncCall>> calls;
    // Calls posted to the window thread, oldest first. They travel through
    // this queue rather than inside the posted functor so that the hand-over
    // is ordered by a lock every thread checker can see (Qt's own event
    // queue is not).
    std::deque<std::shared_ptr<SyncCall>> posted;
};

// The program's one process-wide object: shutdownAll must reach every live
// worker and every call in flight, whoever created them. It is never
// destroyed, because exit() (which Qt calls when the display connection
// breaks) would run its destructor while a worker still waits in Synchronize.
Registry& registry()
{
    static Registry* const r = new Registry;
    return *r;
}

} // namespace

WorkerThread::WorkerThread(QObject* parent)
    : QThread(parent)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.workers.push_back(this);
}

WorkerThread::~WorkerThread()
{
    Terminate();
    wait();
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.workers.erase(std::remove(r.workers.begin(), r.workers.end(), this), r.workers.end());
}

void WorkerThread::run()
{
    Execute();
    m_executed.store(true, std::memory_order_release);
}

bool WorkerThread::wait(QDeadlineTimer deadline)
{
    if (!QThread::wait(deadline))
        return false;
    joined();
    return true;
}

void WorkerThread::joined() const
{
    // QThread::wait orders nothing a thread checker can see; this load of
    // what run() stored last does.
    (void)m_executed.load(std::memory_order_acquire);
}

bool WorkerThread::closing()
{
    return registry().closing.load();
}

bool WorkerThread::Synchronize(const std::function<void()>& fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    if (QThread::currentThread() == app->thread()) {
        fn();
        return true;
    }

    Registry& r = registry();
    auto call = std::make_shared<SyncCall>();
    call->fn = fn;
    {
        std::lock_guard lock(r.mutex);
        if (r.closing.load())
            return false;
        r.calls.push_back(call);
        r.posted.push_back(call);
    }

    QMetaObject::invokeMethod(app, [] {
        Registry& r = registry();
        std::shared_ptr<SyncCall> call;
        {
            std::lock_guard lock(r.mutex);
            if (r.posted.empty())
                return;
            call = std::move(r.posted.front());
            r.posted.pop_front();
        }
        {
            std::lock_guard lock(call->mutex);
            if (call->abandoned)
                return;
            call->started = true;
        }
        call->fn();
        {
            std::lock_guard lock(call->mutex);
            call->done = true;
        }
        call->cond.notify_all();
    }, Qt::QueuedConnection);

    bool ran = false;
    {
        std::unique_lock lock(call->mutex);
        call->cond.wait(lock, [&] {
            if (call->done)
                return true;
            // Shutdown: give up on work the window thread has not begun.
            if (!call->started && WorkerThread::closing()) {
                call->abandoned = true;
                return true;
            }
            return false;
        });
        ran = call->done;
    }
    {
        std::lock_guard lock(r.mutex);
        r.calls.erase(std::remove(r.calls.begin(), r.calls.end(), call), r.calls.end());
    }
    return ran;
}

void WorkerThread::shutdownAll()
{
    Registry& r = registry();
    std::vector<WorkerThread*> workers;
    {
        std::lock_guard lock(r.mutex);
        r.closing.store(true);
        workers = r.workers;
        for (auto& call : r.calls) {
            std::lock_guard callLock(call->mutex);
            call->cond.notify_all();
        }
    }
    for (WorkerThread* w : workers)
        w->Terminate();
    for (WorkerThread* w : workers)
        w->wait();
}

void WorkerThread::reopen()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.closing.store(false);
}
