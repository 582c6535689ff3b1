// The tile sources against real data: an MBTiles file built here, and a
// tile server on the loopback address serving generated tiles.
#include "map/EventWait.h"
#include "map/MapRenderer.h"
#include "map/MapViewport.h"
#include "map/MbTilesSource.h"
#include "map/NetworkTileSource.h"
#include "map/TileMath.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

// A tile whose colour says which tile it is.
QColor tileColour(int zoom, int x, int y)
{
    return QColor((zoom * 40) % 256, (x * 7) % 256, (y * 13) % 256);
}

QByteArray pngTile(int zoom, int x, int y)
{
    QImage image(256, 256, QImage::Format_RGB32);
    image.fill(tileColour(zoom, x, y));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

struct Stored
{
    int zoom, x, y; // tile-server numbering (row from the north)
};

const Stored kStored[] = {{0, 0, 0}, {3, 2, 1}, {3, 2, 6}, {3, 7, 3}, {3, 0, 3}, {12, 1201, 1542}};

QString buildMbtiles(const QString& path, bool withTiles = true, const char* maxZoom = "14")
{
    const QString connection = QStringLiteral("fixture-") + path;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
        QSqlQuery q(db);
        EXPECT_TRUE(q.exec(QStringLiteral("CREATE TABLE metadata (name text, value text)")));
        q.exec(QStringLiteral("INSERT INTO metadata VALUES ('name', 'fixture'), ('format', 'png'), "
                              "('maxzoom', '%1'), ('attribution', 'Fixture tiles')").arg(QLatin1String(maxZoom)));
        if (withTiles) {
            EXPECT_TRUE(q.exec(QStringLiteral("CREATE TABLE tiles (zoom_level integer, tile_column integer, "
                                              "tile_row integer, tile_data blob)")));
            for (const Stored& s : kStored) {
                q.prepare(QStringLiteral("INSERT INTO tiles VALUES (?, ?, ?, ?)"));
                q.addBindValue(s.zoom);
                q.addBindValue(s.x);
                q.addBindValue(TileMath::mbtilesRow(s.y, s.zoom));
                q.addBindValue(pngTile(s.zoom, s.x, s.y));
                EXPECT_TRUE(q.exec());
            }
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return path;
}

TEST(MbTilesSource, ReadsTilesWithTheRowFlippedAndItsMetadata)
{
    QTemporaryDir dir;
    MbTilesSource source;
    ASSERT_TRUE(source.open(buildMbtiles(dir.filePath(QStringLiteral("f.mbtiles"))))) << source.error().toStdString();
    EXPECT_EQ(source.attribution(), QStringLiteral("Fixture tiles"));
    EXPECT_EQ(source.maxZoom(), 14);
    for (const Stored& s : kStored) {
        SCOPED_TRACE(s.zoom * 100000 + s.x);
        const QImage tile = source.tile(s.zoom, s.x, s.y);
        ASSERT_FALSE(tile.isNull());
        EXPECT_EQ(tile.size(), QSize(256, 256));
        EXPECT_EQ(QColor(tile.pixel(128, 128)), tileColour(s.zoom, s.x, s.y));
    }
    // Rows 1 and 6 of zoom 3 are each other's flip: each must come back as itself.
    EXPECT_NE(QColor(source.tile(3, 2, 1).pixel(0, 0)), QColor(source.tile(3, 2, 6).pixel(0, 0)));
    EXPECT_TRUE(source.tile(3, 0, 0).isNull()) << "a tile the file lacks";
    EXPECT_TRUE(source.tile(3, 0, 0).isNull()) << "asked again";
}

TEST(MbTilesSource, ZoomedPastItsDeepestLevelTheTilesAreEnlarged)
{
    QTemporaryDir dir;
    MbTilesSource source;
    ASSERT_TRUE(source.open(buildMbtiles(dir.filePath(QStringLiteral("z12.mbtiles")), true, "12")));
    MapViewport viewport;
    viewport.setSize(QSizeF(300, 300));
    // The middle of the stored zoom-12 tile (column 1201, row 1542), seen closer.
    viewport.setCentre(QPointF((1201 + 0.3) / 4096.0, (1542 + 0.6) / 4096.0));
    MapRenderer renderer;
    const auto middle = [&](int zoom) {
        viewport.setZoom(zoom);
        QImage image(300, 300, QImage::Format_ARGB32_Premultiplied);
        renderer.render(image, viewport, &source, {}, RssiPalette(), {});
        return QColor(image.pixel(150, 150));
    };
    EXPECT_EQ(middle(12), tileColour(12, 1201, 1542));
    EXPECT_EQ(middle(14), tileColour(12, 1201, 1542));
    EXPECT_EQ(middle(18), tileColour(12, 1201, 1542));
    EXPECT_NE(middle(19), tileColour(12, 1201, 1542)) << "seven levels on: the grid";
}

// A view across 180° shows the far side's tiles, not a blank beyond the edge.
TEST(MbTilesSource, AViewAcrossTheAntimeridianShowsTheTilesOfBothSides)
{
    QTemporaryDir dir;
    MbTilesSource source;
    ASSERT_TRUE(source.open(buildMbtiles(dir.filePath(QStringLiteral("z3.mbtiles")), true, "3")));
    MapViewport viewport;
    viewport.setSize(QSizeF(300, 300));
    viewport.setZoom(3);
    viewport.setCentre(QPointF(0.0, 3.5 / 8));
    MapRenderer renderer;
    QImage image(300, 300, QImage::Format_ARGB32_Premultiplied);
    renderer.render(image, viewport, &source, {}, RssiPalette(), {});
    EXPECT_EQ(QColor(image.pixel(60, 150)), tileColour(3, 7, 3)) << "west of 180°: the last column";
    EXPECT_EQ(QColor(image.pixel(170, 240)), tileColour(3, 0, 3)) << "east of it: the first";
}

// The base map's source is credited once one of its tiles is on the map,
// never over the grid alone.
TEST(MbTilesSource, TheAttributionShowsOnlyOnceATileIsDrawn)
{
    QTemporaryDir dir;
    MbTilesSource source;
    ASSERT_TRUE(source.open(buildMbtiles(dir.filePath(QStringLiteral("z12.mbtiles")), true, "12")));
    MapViewport viewport;
    viewport.setSize(QSizeF(300, 300));
    // The stored zoom-12 tile reaches past the view's bottom right corner, where the attribution goes.
    viewport.setCentre(QPointF((1201 + 0.3) / 4096.0, (1542 + 0.3) / 4096.0));
    MapRenderer renderer;
    const auto render = [&](int zoom, TileSource* tiles) {
        viewport.setZoom(zoom);
        QImage image(300, 300, QImage::Format_ARGB32_Premultiplied);
        renderer.render(image, viewport, tiles, {}, RssiPalette(), {});
        return image;
    };
    EXPECT_EQ(render(19, &source), render(19, nullptr)) << "only the grid drawn: nothing credited";
    const QImage tiled = render(12, &source);
    EXPECT_EQ(QColor(tiled.pixel(100, 150)), tileColour(12, 1201, 1542));
    EXPECT_NE(QColor(tiled.pixel(297, 297)), tileColour(12, 1201, 1542)) << "the attribution over the tile";
}

TEST(MbTilesSource, RefusesWhatIsNoMbtilesFile)
{
    QTemporaryDir dir;
    MbTilesSource source;
    EXPECT_FALSE(source.open(dir.filePath(QStringLiteral("missing.mbtiles"))));
    EXPECT_FALSE(source.open(buildMbtiles(dir.filePath(QStringLiteral("empty.mbtiles")), false)));
    EXPECT_FALSE(source.error().isEmpty());
    QFile junk(dir.filePath(QStringLiteral("junk.mbtiles")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    EXPECT_FALSE(source.open(junk.fileName()));
    EXPECT_TRUE(source.tile(0, 0, 0).isNull());
}

// Serves /z/x/y.png with a day's freshness, and 404 for z above 15.
class TileServer : public QTcpServer
{
public:
    TileServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, this, [this, s] { serve(s); });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }

    QString urlTemplate() const
    {
        return QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(serverPort());
    }

    int requests = 0;
    QByteArray lastUserAgent;

private:
    void serve(QTcpSocket* s)
    {
        QByteArray& buffer = m_pending[s];
        buffer += s->readAll();
        while (true) {
            const int end = buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QByteArray head = buffer.left(end);
            buffer.remove(0, end + 4);
            ++requests;
            for (const QByteArray& line : head.split('\n'))
                if (line.toLower().startsWith("user-agent:"))
                    lastUserAgent = line.mid(11).trimmed();
            const QList<QByteArray> parts = head.split(' ').value(1).split('/');
            const int zoom = parts.value(1).toInt();
            const int x = parts.value(2).toInt();
            const int y = parts.value(3).split('.').value(0).toInt();
            if (zoom > 15) {
                s->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
                continue;
            }
            const QByteArray body = pngTile(zoom, x, y);
            s->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nCache-Control: max-age=86400\r\n"
                     "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        }
    }

    QHash<QTcpSocket*, QByteArray> m_pending;
};

TEST(NetworkTileSource, LoadsFromTheServerOnceThenFromTheDiskCache)
{
    TileServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QTemporaryDir cache;

    {
        NetworkTileSource source(server.urlTemplate(), cache.path(), QStringLiteral("Local tiles"));
        int ready = 0;
        QObject::connect(&source, &TileSource::tileReady, [&] { ++ready; });
        EXPECT_TRUE(source.tile(12, 1201, 1542).isNull()) << "never waits for the network";
        ASSERT_TRUE(until([&] { return ready == 1; }));
        const QImage tile = source.tile(12, 1201, 1542);
        ASSERT_FALSE(tile.isNull());
        EXPECT_EQ(QColor(tile.pixel(5, 5)), tileColour(12, 1201, 1542));
        EXPECT_EQ(source.networkLoads(), 1);
        EXPECT_EQ(server.requests, 1);
        EXPECT_TRUE(server.lastUserAgent.startsWith("tavrix-map/")) << server.lastUserAgent.toStdString();
    }

    // A new source (a new run): nothing in memory, the disk cache answers.
    NetworkTileSource again(server.urlTemplate(), cache.path(), QStringLiteral("Local tiles"));
    int ready = 0;
    QObject::connect(&again, &TileSource::tileReady, [&] { ++ready; });
    again.tile(12, 1201, 1542);
    ASSERT_TRUE(until([&] { return ready == 1; }));
    EXPECT_EQ(again.cacheLoads(), 1);
    EXPECT_EQ(again.networkLoads(), 0);
    EXPECT_EQ(server.requests, 1) << "the second load never reached the server";
    EXPECT_EQ(QColor(again.tile(12, 1201, 1542).pixel(5, 5)), tileColour(12, 1201, 1542));
}

TEST(NetworkTileSource, AtMostTwoDownloadsAtATimeAndFailuresAreNotRetriedAtOnce)
{
    TileServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QTemporaryDir cache;
    NetworkTileSource source(server.urlTemplate(), cache.path(), {});
    int ready = 0;
    QObject::connect(&source, &TileSource::tileReady, [&] { ++ready; });
    int inFlightMax = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] { inFlightMax = std::max(inFlightMax, int(server.findChildren<QTcpSocket*>().size())); });
    for (int x = 0; x < 6; ++x)
        source.tile(5, x, 3);
    source.tile(16, 1, 1); // the server has no such tile
    ASSERT_TRUE(until([&] { return ready == 6 && source.failures() == 1; }));
    EXPECT_LE(inFlightMax, 2);
    const int requests = server.requests;
    EXPECT_TRUE(source.tile(16, 1, 1).isNull());
    for (int x = 0; x < 6; ++x)
        EXPECT_FALSE(source.tile(5, x, 3).isNull());
    QCoreApplication::processEvents();
    EXPECT_EQ(server.requests, requests) << "a failed tile is not asked for again right away";
}

TEST(NetworkTileSource, ALoadedCoarserTileStandsInWhileTheCloserOnesCome)
{
    TileServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QTemporaryDir cache;
    NetworkTileSource source(server.urlTemplate(), cache.path(), {});
    int ready = 0;
    QObject::connect(&source, &TileSource::tileReady, [&] { ++ready; });
    source.tile(5, 9, 12);
    ASSERT_TRUE(until([&] { return ready == 1; }));

    MapViewport viewport;
    viewport.setSize(QSizeF(300, 300));
    viewport.setCentre(QPointF((9 + 0.5) / 32.0, (12 + 0.5) / 32.0));
    viewport.setZoom(7);
    MapRenderer renderer;
    QImage image(300, 300, QImage::Format_ARGB32_Premultiplied);
    renderer.render(image, viewport, &source, {}, RssiPalette(), {});
    EXPECT_TRUE(source.cached(7, 38, 50).isNull()) << "asked for, not there yet";
    EXPECT_EQ(QColor(image.pixel(150, 150)), tileColour(5, 9, 12));

    ASSERT_TRUE(until([&] { return !source.cached(7, 38, 50).isNull(); }));
    renderer.render(image, viewport, &source, {}, RssiPalette(), {});
    EXPECT_EQ(QColor(image.pixel(150, 150)), tileColour(7, 38, 50));
}

TEST(NetworkTileSource, AnUnreachableServerOnlyLeavesTilesEmpty)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    QTemporaryDir cache;
    NetworkTileSource source(QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(port), cache.path(), {});
    EXPECT_TRUE(source.tile(3, 1, 1).isNull());
    ASSERT_TRUE(until([&] { return source.failures() == 1; }));
    EXPECT_TRUE(source.tile(3, 1, 1).isNull());
}

} // namespace
