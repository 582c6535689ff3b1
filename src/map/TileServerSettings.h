#pragma once

#include <QString>

class QSettings;

// Where tavrix-map's network tiles come from and where they are kept, as its
// settings say, so every program that draws the map (the window, the
// acceptance report) asks the same server and shares one disk cache.
class TileServerSettings
{
public:
    struct Server
    {
        QString url;         // z/x/y template
        QString attribution; // shown on the map; may be empty
    };

    // `url` when given, else the settings' tiles/url, else OpenStreetMap; the
    // settings' attribution, else OpenStreetMap's for its own server.
    static Server server(const QSettings& settings, const QString& url);
    // tavrix-map's tile cache, whichever program asks.
    static QString cacheDir();
    // The settings file tavrix-map keeps (organization, application).
    static constexpr char kOrganization[] = "Tavrix";
    static constexpr char kApplication[] = "tavrix-map";
};
