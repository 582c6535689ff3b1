#include "CoverageMapLoader.h"

#include <algorithm>
#include <utility>

CoverageMapLoader::CoverageMapLoader(QObject* parent)
    : QObject(parent)
{
}

CoverageMapLoader::~CoverageMapLoader() = default;

void CoverageMapLoader::start(const QString& path)
{
    // A read replaced or cancelled says nothing, and its result is dropped.
    m_run.start(this, [this, path](const BackgroundRun::Control& control) {
        Result r;
        r.path = path;
        std::vector<CoverageMapReader::Cell> cells;
        std::string why;
        const bool read = CoverageMapReader::read(path.toStdString(), cells, why, [&control](uint64_t done, uint64_t total) {
            control.progress = total ? std::min(1.0, double(done) / double(total)) : -1.0;
            return !control.stopped();
        });
        if (!read) {
            r.error = QString::fromStdString(why);
        } else if (!control.stopped()) {
            // The window only swaps the layer in: the filtering, the list of
            // frequencies and the bounds each pass over every cell.
            r.layer.setCells(std::move(cells));
            r.frequencies = r.layer.frequencies();
            r.worldBounds = r.layer.worldBounds();
        }
        std::lock_guard lock(m_run.resultMutex());
        m_result = std::move(r);
    }, [this] { emit finished(); });
}

void CoverageMapLoader::cancel()
{
    m_run.stop();
    m_run.forget();
}

CoverageMapLoader::Result CoverageMapLoader::takeResult()
{
    m_run.join();
    std::lock_guard lock(m_run.resultMutex());
    return std::exchange(m_result, Result());
}
