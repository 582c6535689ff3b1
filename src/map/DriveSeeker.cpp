#include "DriveSeeker.h"

#include <QMetaObject>

DriveSeeker::DriveSeeker(QObject* parent)
    : QObject(parent)
{
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->start();
}

DriveSeeker::~DriveSeeker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread->wait();
    std::lock_guard lock(m_mutex); // orders the worker's last step before the members go
}

void DriveSeeker::setDrive(const QString& path, std::shared_ptr<const DriveIndex> index)
{
    std::lock_guard lock(m_mutex);
    m_path = path;
    m_index = std::move(index);
    ++m_drive;
    m_request.reset();
    m_result.reset();
}

void DriveSeeker::request(uint64_t from, uint64_t to)
{
    {
        std::lock_guard lock(m_mutex);
        m_request = Request{from, to, m_drive};
    }
    m_wake.notify_all();
}

std::optional<DriveSeeker::Stretch> DriveSeeker::take()
{
    std::lock_guard lock(m_mutex);
    std::optional<Stretch> out = std::move(m_result);
    m_result.reset();
    return out;
}

void DriveSeeker::run()
{
    // The file stays open between requests, closed when the drive changes.
    std::FILE* file = nullptr;
    int openDrive = -1;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_request; });
        if (m_stop)
            break;
        const Request request = *m_request;
        m_request.reset();
        if (request.drive != m_drive || !m_index)
            continue;
        const std::shared_ptr<const DriveIndex> index = m_index;
        const QString path = m_path;
        lock.unlock();

        if (openDrive != request.drive) {
            if (file)
                std::fclose(file);
            file = std::fopen(path.toLocal8Bit().constData(), "rb");
            openDrive = request.drive;
        }
        Stretch stretch;
        stretch.from = request.from;
        stretch.to = request.to;
        stretch.ok = file && index->readReports(file, request.from, request.to, stretch.reports);

        lock.lock();
        if (request.drive != m_drive)
            continue;
        m_result = std::move(stretch);
        // Queued to the window thread; dropped if the seeker is gone by then.
        QMetaObject::invokeMethod(this, [this] { emit ready(); }, Qt::QueuedConnection);
    }
    lock.unlock();
    if (file)
        std::fclose(file);
}
