#include "DriveIndexLoader.h"

DriveIndexLoader::DriveIndexLoader(QObject* parent)
    : QObject(parent)
{
}

DriveIndexLoader::~DriveIndexLoader()
{
    cancel();
    join();
}

void DriveIndexLoader::join()
{
    if (!m_thread)
        return;
    m_thread->wait();
    std::lock_guard lock(m_resultMutex);
}

void DriveIndexLoader::start(const QString& path)
{
    cancel();
    join();
    m_cancel = false;
    m_progress = 0;
    {
        std::lock_guard lock(m_resultMutex);
        m_index.reset();
        m_error.clear();
    }
    const int generation = ++m_generation;
    m_thread.reset(QThread::create([this, path] {
        auto index = std::make_shared<DriveIndex>();
        const bool built = index->build(path.toStdString(), [this](uint64_t done, uint64_t total) {
            m_progress = total ? double(done) / double(total) : 0.0;
            return !m_cancel.load();
        });
        std::lock_guard lock(m_resultMutex);
        if (built)
            m_index = std::move(index);
        else
            m_error = QString::fromStdString(index->summary().error);
    }));
    // Queued: the window thread takes the index once the build is over. A
    // build replaced by a newer one still finishes, but says nothing.
    connect(m_thread.get(), &QThread::finished, this, [this, generation] {
        if (generation == m_generation)
            emit finished();
    }, Qt::QueuedConnection);
    m_thread->start();
}

void DriveIndexLoader::cancel()
{
    m_cancel = true;
}

bool DriveIndexLoader::running() const
{
    return m_thread && m_thread->isRunning();
}

std::shared_ptr<const DriveIndex> DriveIndexLoader::takeIndex()
{
    join();
    std::lock_guard lock(m_resultMutex);
    return std::move(m_index);
}

QString DriveIndexLoader::error() const
{
    std::lock_guard lock(m_resultMutex);
    return m_error;
}
