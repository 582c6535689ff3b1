#pragma once

#include "TileSource.h"

#include <QCache>
#include <QElapsedTimer>
#include <QHash>
#include <QNetworkAccessManager>
#include <QSet>
#include <QString>

#include <deque>

class QNetworkDiskCache;
class QNetworkReply;

// Tiles from a z/x/y URL template over HTTP, the way OpenStreetMap's tile
// usage policy asks: a User-Agent naming the program, every tile through a
// disk cache that honours the server's expiry, at most two downloads at a
// time and only the tiles on screen (no bulk or prefetching).
class NetworkTileSource : public TileSource
{
    Q_OBJECT
public:
    static constexpr char kOpenStreetMap[] = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
    static constexpr char kOpenStreetMapAttribution[] = "© OpenStreetMap contributors";

    // `cacheDir` holds the disk cache; `attribution` is shown on the map.
    NetworkTileSource(QString urlTemplate, const QString& cacheDir, QString attribution,
                      QObject* parent = nullptr);
    ~NetworkTileSource() override;

    QImage tile(int zoom, int x, int y) override;
    QImage cached(int zoom, int x, int y) override;
    QString attribution() const override { return m_attribution; }
    void forgetPending() override;

    static QString userAgent();
    QString urlFor(int zoom, int x, int y) const;

    int networkLoads() const { return m_networkLoads; } // tiles that came over the wire
    int cacheLoads() const { return m_cacheLoads; }     // tiles the disk cache served
    int failures() const { return m_failures; }
    // Why tiles are not kept on disk; empty when they are.
    QString cacheProblem() const { return m_cacheProblem; }

private:
    void startNext();
    void finished(QNetworkReply* reply, const QString& key, int zoom, int x, int y);

    QString m_template;
    QString m_attribution;
    QNetworkAccessManager m_net;
    QNetworkDiskCache* m_disk = nullptr; // none when the folder cannot be written
    QString m_cacheProblem;
    QCache<QString, QImage> m_memory; // cost: KiB
    struct Wanted
    {
        int zoom, x, y;
    };
    std::deque<Wanted> m_queue;           // newest first
    QSet<QString> m_queued;
    QSet<QString> m_inFlight;
    QHash<QString, qint64> m_failedAt;    // ms on m_clock; retried after a while
    QElapsedTimer m_clock;
    int m_networkLoads = 0;
    int m_cacheLoads = 0;
    int m_failures = 0;
};
