#include "BackgroundRun.h"

BackgroundRun::~BackgroundRun()
{
    stop();
    join();
}

void BackgroundRun::join()
{
    if (!m_thread)
        return;
    m_thread->wait();
    std::lock_guard lock(m_resultMutex);
}

void BackgroundRun::start(QObject* owner, std::function<void(const Control&)> work, std::function<void()> done)
{
    stop();
    join();
    m_stop = false;
    m_progress = 0;
    const int generation = ++m_generation;
    m_thread.reset(QThread::create([this, work = std::move(work)] { work(Control{m_progress, m_stop}); }));
    // Queued: the owner takes the result once the work is over.
    QObject::connect(m_thread.get(), &QThread::finished, owner, [this, generation, done = std::move(done)] {
        if (generation == m_generation)
            done();
    }, Qt::QueuedConnection);
    m_thread->start();
}
