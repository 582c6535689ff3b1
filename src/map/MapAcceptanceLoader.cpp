#include "MapAcceptanceLoader.h"

#include "coverage/AcceptanceSource.h"
#include "coverage/PgSource.h"
#include "drive/DriveFilter.h"

#include <QtConcurrent/QtConcurrentRun>

#include <utility>

MapAcceptanceLoader::MapAcceptanceLoader(QObject* parent)
    : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
}

MapAcceptanceLoader::~MapAcceptanceLoader()
{
    cancel();
}

void MapAcceptanceLoader::start(const QString& source, std::optional<double> tileMetres)
{
    if (m_read && source == m_source && tileMetres == m_tileMetres) {
        // It may have read the map before the latest upload committed.
        m_again = true;
        return;
    }
    cancel();
    m_source = source;
    m_tileMetres = tileMetres;
    launch();
}

void MapAcceptanceLoader::launch()
{
    m_again = false;
    m_read = new QFutureWatcher<Result>(this);
    connect(m_read, &QFutureWatcher<Result>::finished, this, &MapAcceptanceLoader::read);
    m_read->setFuture(QtConcurrent::run(&m_pool, [source = m_source, asked = m_tileMetres] {
        Result r;
        r.source = source;
        const std::string s = source.toStdString();
        // As klf-report names it; a database without its password.
        const QString name = PgSource::is(s) ? QString::fromStdString(PgSource::shown(s)) : source;
        std::string error;
        double cellMetres = 0;
        if (!AcceptanceSource::mapCellMetres(s, cellMetres, error)) {
            r.error = QStringLiteral("%1: %2").arg(name, QString::fromStdString(error));
            return r;
        }
        // klf-report's tile: the size asked for, or the map's cells.
        r.tileMetres = asked.value_or(cellMetres);
        AcceptanceSource read(r.tileMetres, DriveFilter(), false);
        if (!read.addMap(s, error)) {
            r.error = QStringLiteral("%1: %2").arg(name, QString::fromStdString(error));
            return r;
        }
        r.input = std::move(read.input());
        return r;
    }));
}

// A dropped read's result, still to come, reaches nobody.
void MapAcceptanceLoader::cancel()
{
    m_again = false;
    if (!m_read)
        return;
    m_read->cancel();
    m_read->disconnect(this);
    std::exchange(m_read, nullptr)->deleteLater();
}

void MapAcceptanceLoader::read()
{
    QFutureWatcher<Result>* read = std::exchange(m_read, nullptr);
    read->deleteLater();
    m_result = read->future().takeResult();
    // The result is newer than what is shown: it is shown, and the read
    // asked for meanwhile follows.
    if (m_again)
        launch();
    emit finished();
}

MapAcceptanceLoader::Result MapAcceptanceLoader::takeResult()
{
    return std::exchange(m_result, Result());
}
