#include "DriveSeeker.h"

#include <QtConcurrent/QtConcurrentRun>

#include <cstdio>

// Opened by the first read and closed with the last reference, by a read of
// it or by the seeker; used by one read at a time.
struct DriveSeeker::Log
{
    explicit Log(QString p) : path(std::move(p)) {}
    ~Log()
    {
        if (file)
            std::fclose(file);
    }
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    QString path;
    std::FILE* file = nullptr;
    bool opened = false; // once tried
};

DriveSeeker::DriveSeeker(QObject* parent)
    : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
}

DriveSeeker::~DriveSeeker() = default;

void DriveSeeker::setDrive(const QString& path, std::shared_ptr<const DriveIndex> index)
{
    if (m_reading) {
        // Its signals still queued reach nobody; it ends on its own.
        m_reading->disconnect(this);
        std::exchange(m_reading, nullptr)->deleteLater();
    }
    m_index = std::move(index);
    m_log = std::make_shared<Log>(path);
    m_waiting.reset();
    m_result.reset();
}

void DriveSeeker::request(uint64_t from, uint64_t to)
{
    if (!m_index)
        return;
    m_waiting = {from, to};
    if (!m_reading)
        readNext();
}

std::optional<DriveSeeker::Stretch> DriveSeeker::take()
{
    return std::exchange(m_result, std::nullopt);
}

void DriveSeeker::readNext()
{
    const auto [from, to] = *std::exchange(m_waiting, std::nullopt);
    m_reading = new QFutureWatcher<Stretch>(this);
    connect(m_reading, &QFutureWatcher<Stretch>::finished, this, &DriveSeeker::stretchRead);
    m_reading->setFuture(QtConcurrent::run(&m_pool, [index = m_index, log = m_log, from, to] {
        if (!log->opened) {
            log->file = std::fopen(log->path.toLocal8Bit().constData(), "rb");
            log->opened = true;
        }
        Stretch stretch;
        stretch.from = from;
        stretch.to = to;
        stretch.ok = log->file && index->readReports(log->file, from, to, stretch.reports);
        return stretch;
    }));
}

void DriveSeeker::stretchRead()
{
    QFutureWatcher<Stretch>* reading = std::exchange(m_reading, nullptr);
    reading->deleteLater();
    m_result = reading->future().takeResult();
    if (m_waiting)
        readNext();
    emit ready();
}
