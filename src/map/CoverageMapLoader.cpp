#include "CoverageMapLoader.h"

#include "TileMath.h"

#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <utility>

namespace {
constexpr int kSteps = 1000; // of the progress
}

CoverageMapLoader::CoverageMapLoader(QObject* parent)
    : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
}

CoverageMapLoader::~CoverageMapLoader()
{
    cancel();
}

void CoverageMapLoader::start(const QString& path)
{
    cancel();
    m_progress = 0;
    m_read = new QFutureWatcher<Result>(this);
    connect(m_read, &QFutureWatcher<Result>::progressRangeChanged, this, [this](int, int maximum) {
        if (maximum == 0) {
            m_progress = -1;
            emit progressChanged(m_progress);
        }
    });
    connect(m_read, &QFutureWatcher<Result>::progressValueChanged, this, [this](int value) {
        m_progress = double(value) / kSteps;
        emit progressChanged(m_progress);
    });
    connect(m_read, &QFutureWatcher<Result>::finished, this, &CoverageMapLoader::read);
    m_read->setFuture(QtConcurrent::run(&m_pool, [path](QPromise<Result>& promise) {
        Result r;
        r.path = path;
        std::vector<CoverageMapReader::Cell> cells;
        std::string why;
        int maximum = -1; // the progress range set
        const bool read = CoverageMapReader::read(path.toStdString(), cells, why, [&](uint64_t done, uint64_t total) {
            // An empty range: a busy bar, until the map says how many cells it holds.
            if (const int m = total ? kSteps : 0; m != maximum)
                promise.setProgressRange(0, maximum = m);
            if (total)
                promise.setProgressValue(int(std::min(done, total) * kSteps / total));
            return !promise.isCanceled();
        });
        if (!read) {
            r.error = failureText(path, QString::fromStdString(why));
        } else if (!promise.isCanceled()) {
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
        promise.addResult(std::move(r));
    }));
}

// A read replaced or cancelled says nothing, and its result is dropped.
void CoverageMapLoader::cancel()
{
    if (!m_read)
        return;
    m_read->cancel();
    // Its signals still queued reach nobody.
    m_read->disconnect(this);
    std::exchange(m_read, nullptr)->deleteLater();
}

void CoverageMapLoader::read()
{
    QFutureWatcher<Result>* read = std::exchange(m_read, nullptr);
    read->deleteLater();
    m_result = read->future().takeResult();
    emit finished();
}

CoverageMapLoader::Result CoverageMapLoader::takeResult()
{
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
