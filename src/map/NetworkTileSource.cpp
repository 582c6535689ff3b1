#include "NetworkTileSource.h"

#include <QCoreApplication>
#include <QDir>
#include <QNetworkDiskCache>
#include <QTemporaryFile>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
constexpr int kMaxInFlight = 2;       // the tile usage policy's limit
constexpr int kMaxQueued = 96;        // about two screens of tiles
constexpr qint64 kRetryAfterMs = 60000;
constexpr qint64 kDiskCacheBytes = 256LL * 1024 * 1024;
constexpr int kMemoryKiB = 96 * 1024;

QString keyOf(int zoom, int x, int y)
{
    return QStringLiteral("%1/%2/%3").arg(zoom).arg(x).arg(y);
}
} // namespace

NetworkTileSource::NetworkTileSource(QString urlTemplate, const QString& cacheDir, QString attribution,
                                     QObject* parent)
    : TileSource(parent)
    , m_template(std::move(urlTemplate))
    , m_attribution(std::move(attribution))
    , m_memory(kMemoryKiB)
{
    // A cache that cannot be written would complain for every tile: without
    // it, tiles still come, only not kept.
    QTemporaryFile probe(cacheDir + QStringLiteral("/probe-XXXXXX"));
    if (!QDir().mkpath(cacheDir)) {
        m_cacheProblem = QStringLiteral("cannot write the tile cache folder %1: it cannot be created; "
                                        "running without the cache").arg(cacheDir);
    } else if (!probe.open()) {
        m_cacheProblem = QStringLiteral("cannot write the tile cache folder %1: %2; running without the cache")
                             .arg(cacheDir, probe.errorString());
    } else {
        m_disk = new QNetworkDiskCache(&m_net);
        m_disk->setCacheDirectory(cacheDir);
        m_disk->setMaximumCacheSize(kDiskCacheBytes);
        m_net.setCache(m_disk);
    }
    m_clock.start();
}

NetworkTileSource::~NetworkTileSource()
{
    // Replies still running must not call back into a half-destroyed object.
    for (QNetworkReply* reply : m_net.findChildren<QNetworkReply*>()) {
        reply->disconnect(this);
        reply->abort();
    }
}

QString NetworkTileSource::userAgent()
{
    return QStringLiteral("tavrix-map/%1 (Tavrix data logger map viewer; Qt %2)")
        .arg(QCoreApplication::applicationVersion().isEmpty() ? QStringLiteral("4.16")
                                                              : QCoreApplication::applicationVersion(),
             QLatin1String(qVersion()));
}

QString NetworkTileSource::urlFor(int zoom, int x, int y) const
{
    QString url = m_template;
    url.replace(QLatin1String("{z}"), QString::number(zoom));
    url.replace(QLatin1String("{x}"), QString::number(x));
    url.replace(QLatin1String("{y}"), QString::number(y));
    return url;
}

QImage NetworkTileSource::tile(int zoom, int x, int y)
{
    const QString key = keyOf(zoom, x, y);
    if (const QImage* hit = m_memory.object(key))
        return *hit;
    if (m_queued.contains(key) || m_inFlight.contains(key))
        return {};
    const auto failed = m_failedAt.constFind(key);
    if (failed != m_failedAt.cend() && m_clock.elapsed() - *failed < kRetryAfterMs)
        return {};
    m_queue.push_front({zoom, x, y});
    m_queued.insert(key);
    while (m_queue.size() > kMaxQueued) {
        m_queued.remove(keyOf(m_queue.back().zoom, m_queue.back().x, m_queue.back().y));
        m_queue.pop_back();
    }
    startNext();
    return {};
}

QImage NetworkTileSource::cached(int zoom, int x, int y)
{
    const QImage* hit = m_memory.object(keyOf(zoom, x, y));
    return hit ? *hit : QImage();
}

void NetworkTileSource::forgetPending()
{
    m_queue.clear();
    m_queued.clear();
}

void NetworkTileSource::startNext()
{
    while (m_inFlight.size() < kMaxInFlight && !m_queue.empty()) {
        const Wanted w = m_queue.front();
        m_queue.pop_front();
        const QString key = keyOf(w.zoom, w.x, w.y);
        m_queued.remove(key);
        QNetworkRequest request{QUrl(urlFor(w.zoom, w.x, w.y))};
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::PreferNetwork);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, true);
        request.setTransferTimeout(15000);
        QNetworkReply* reply = m_net.get(request);
        m_inFlight.insert(key);
        connect(reply, &QNetworkReply::finished, this,
                [this, reply, key, w] { finished(reply, key, w.zoom, w.x, w.y); });
    }
}

void NetworkTileSource::finished(QNetworkReply* reply, const QString& key, int zoom, int x, int y)
{
    reply->deleteLater();
    m_inFlight.remove(key);
    QImage image;
    if (reply->error() == QNetworkReply::NoError)
        image.loadFromData(reply->readAll());
    if (image.isNull()) {
        ++m_failures;
        m_failedAt.insert(key, m_clock.elapsed());
    } else {
        if (reply->attribute(QNetworkRequest::SourceIsFromCacheAttribute).toBool())
            ++m_cacheLoads;
        else
            ++m_networkLoads;
        m_failedAt.remove(key);
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const int cost = int(image.sizeInBytes() / 1024) + 1;
        m_memory.insert(key, new QImage(std::move(image)), cost);
        emit tileReady(zoom, x, y);
    }
    startNext();
}
