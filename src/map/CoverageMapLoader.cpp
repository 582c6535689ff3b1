#include "CoverageMapLoader.h"

#include <algorithm>
#include <utility>

CoverageMapLoader::CoverageMapLoader(QObject* parent)
    : QObject(parent)
{
}

CoverageMapLoader::~CoverageMapLoader()
{
    cancel();
    join();
}

void CoverageMapLoader::join()
{
    if (!m_thread)
        return;
    m_thread->wait();
    std::lock_guard lock(m_resultMutex);
}

void CoverageMapLoader::start(const QString& path)
{
    cancel();
    join();
    m_stop = false;
    m_progress = 0;
    const int generation = ++m_generation;
    m_thread.reset(QThread::create([this, path] {
        Result r;
        r.path = path;
        std::vector<CoverageMapReader::Cell> cells;
        std::string why;
        const bool read = CoverageMapReader::read(path.toStdString(), cells, why, [this](uint64_t done, uint64_t total) {
            m_progress = total ? std::min(1.0, double(done) / double(total)) : -1.0;
            return !m_stop.load();
        });
        if (!read) {
            r.error = QString::fromStdString(why);
        } else if (!m_stop) {
            // The window only swaps the layer in: the filtering, the list of
            // frequencies and the bounds each pass over every cell.
            r.layer.setCells(std::move(cells));
            r.frequencies = r.layer.frequencies();
            r.worldBounds = r.layer.worldBounds();
        }
        std::lock_guard lock(m_resultMutex);
        m_result = std::move(r);
    }));
    // Queued: the window thread takes the result once the read is over. A
    // read replaced or cancelled says nothing, and its result is dropped.
    connect(m_thread.get(), &QThread::finished, this, [this, generation] {
        if (generation == m_generation)
            emit finished();
    }, Qt::QueuedConnection);
    m_thread->start();
}

void CoverageMapLoader::cancel()
{
    m_stop = true;
    ++m_generation;
}

bool CoverageMapLoader::running() const
{
    return m_thread && m_thread->isRunning();
}

CoverageMapLoader::Result CoverageMapLoader::takeResult()
{
    join();
    std::lock_guard lock(m_resultMutex);
    return std::exchange(m_result, Result());
}
