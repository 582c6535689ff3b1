#include "TileServerSettings.h"

#include "NetworkTileSource.h"

#include <QSettings>
#include <QStandardPaths>

TileServerSettings::Server TileServerSettings::server(const QSettings& settings, const QString& url)
{
    Server s;
    s.url = url.isEmpty()
        ? settings.value(QStringLiteral("tiles/url"), QLatin1String(NetworkTileSource::kOpenStreetMap)).toString()
        : url;
    const bool osm = s.url.contains(QLatin1String("openstreetmap.org"));
    s.attribution = settings.value(QStringLiteral("tiles/attribution"),
        osm ? QString::fromUtf8(NetworkTileSource::kOpenStreetMapAttribution) : QString()).toString();
    return s;
}

QString TileServerSettings::cacheDir()
{
    // What QStandardPaths::CacheLocation names for tavrix-map itself, also
    // when another program (with another name) asks.
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QLatin1Char('/')
           + QLatin1String(kOrganization) + QLatin1Char('/') + QLatin1String(kApplication) + QStringLiteral("/tiles");
}
