#include "MbTilesSource.h"

#include "TileMath.h"

#include <QAtomicInteger>
#include <algorithm>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {
QAtomicInteger<int> connections;
constexpr int kMemoryKiB = 64 * 1024;
} // namespace

MbTilesSource::MbTilesSource(QObject* parent)
    : TileSource(parent)
    , m_connection(QStringLiteral("tavrix-mbtiles-%1").arg(connections.fetchAndAddRelaxed(1)))
    , m_memory(kMemoryKiB)
{
}

MbTilesSource::~MbTilesSource()
{
    close();
}

void MbTilesSource::close()
{
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_memory.clear();
}

bool MbTilesSource::open(const QString& path)
{
    close();
    m_path = path;
    m_error.clear();
    if (!QFileInfo(path).isFile()) {
        m_error = QStringLiteral("No such file");
        return false;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        m_error = QStringLiteral("The Qt SQLite driver is not installed");
        return false;
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            m_error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("SELECT 1 FROM tiles LIMIT 1")))
                m_error = QStringLiteral("No tiles table: %1").arg(q.lastError().text());
        }
    }
    if (!m_error.isEmpty()) {
        close();
        return false;
    }
    m_attribution = metadata(QStringLiteral("attribution"));
    bool ok = false;
    const int maxZoom = metadata(QStringLiteral("maxzoom")).toInt(&ok);
    m_maxZoom = ok ? std::clamp(maxZoom, 0, TileMath::kMaxZoom) : TileMath::kMaxZoom;
    return true;
}

QString MbTilesSource::metadata(const QString& name) const
{
    if (!QSqlDatabase::contains(m_connection))
        return {};
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT value FROM metadata WHERE name = ?"));
    q.addBindValue(name);
    if (q.exec() && q.next())
        return q.value(0).toString();
    return {};
}

QImage MbTilesSource::tile(int zoom, int x, int y)
{
    const QString key = QStringLiteral("%1/%2/%3").arg(zoom).arg(x).arg(y);
    if (const QImage* hit = m_memory.object(key))
        return *hit;
    if (!QSqlDatabase::contains(m_connection))
        return {};
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral(
        "SELECT tile_data FROM tiles WHERE zoom_level = ? AND tile_column = ? AND tile_row = ?"));
    q.addBindValue(zoom);
    q.addBindValue(x);
    q.addBindValue(TileMath::mbtilesRow(y, zoom));
    QImage image;
    if (q.exec() && q.next())
        image.loadFromData(q.value(0).toByteArray());
    // A missing or broken tile is remembered as such so it is not read again.
    image = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    m_memory.insert(key, new QImage(image), int(image.sizeInBytes() / 1024) + 1);
    return image;
}
