#include "CoverageMapLoader.h"

#include "TileMath.h"

#include <QFileInfo>

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
            r.error = failureText(path, QString::fromStdString(why));
        } else if (!control.stopped()) {
            // The window only swaps the layer in: the filtering, the list of
            // frequencies and the bounds each pass over every cell.
            std::vector<QRectF> boxes;
            boxes.reserve(cells.size());
            for (const CoverageMapReader::Cell& c : cells) {
                if (!TileMath::onBaseMap(c.bounds.south) && !TileMath::onBaseMap(c.bounds.north)
                    && (c.bounds.south > 0) == (c.bounds.north > 0)) {
                    ++r.beyondBaseMap;
                    continue;
                }
                boxes.emplace_back(TileMath::worldFromGeo(c.bounds.north, c.bounds.west),
                                   TileMath::worldFromGeo(c.bounds.south, c.bounds.east));
            }
            r.worldBounds = TileMath::wrappedBounds(std::move(boxes));
            r.layer.setCells(std::move(cells));
            r.frequencies = r.layer.frequencies();
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

// A run killed while adding to a map leaves pages of its unfinished
// transaction in the file and, beside it, the journal that undoes them. A
// reader opens the map read-only and cannot undo them (SQLite's "attempt to
// write a readonly database"); the next klf-coverage run on the map opens it
// for writing, which rolls the journal back first. Without the journal the
// half-written pages would stay: the map would be corrupt for good.
QString CoverageMapLoader::failureText(const QString& path, const QString& why)
{
    const QFileInfo journal(path + QStringLiteral("-journal"));
    if (!journal.exists() || journal.size() == 0)
        return why;
    return QStringLiteral("%1. A klf-coverage run adding to this map was cut off and left %2 beside it: "
                          "run klf-coverage -o %3 again, with the options it was made with and any log "
                          "(one already in the map is skipped), which finishes the repair. Do not delete %2: the map needs it.")
        .arg(why, journal.fileName(), QFileInfo(path).fileName());
}
