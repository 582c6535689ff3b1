#pragma once

#include "MapRenderer.h"
#include "MapViewport.h"

#include <QImage>
#include <QRectF>
#include <QSize>

#include <memory>
#include <string>

class AcceptanceArea;
class NetworkTileSource;
class TileSource;
struct AcceptanceSection;

// The report's maps: one view over every section and the area, drawn by the
// map's own renderer over the base map tavrix-map would show (an MBTiles
// file, or its tile server through its disk cache), or a plain grid.
//
// Network tiles come asynchronously; a report cannot wait for them as a
// window can, so prepare() serves the event loop until every tile of the
// view is in, has failed, or a few seconds passed, and the grid stands in
// for any tile still missing. A report is never held up by a dead network.
class ReportMap
{
public:
    enum class Base { Grid, MbTiles, Network };

    ReportMap();
    ~ReportMap();

    // `url` empty: the tile server from tavrix-map's settings. False with
    // one line saying why when the MBTiles file cannot be read.
    bool open(Base base, const std::string& mbtiles, const std::string& url, std::string& error);
    // One view that holds every section's tiles and the area, at `size` logical pixels.
    void frame(const QRectF& worldBounds, QSize size);
    // Fetches the view's tiles, waiting at most `limitMs`; the number still missing.
    int prepare(int limitMs);
    QImage render(const AcceptanceSection& section, const AcceptanceArea& area);

    const MapViewport& viewport() const { return m_viewport; }
    TileSource* tiles() const { return m_tiles.get(); }

private:
    int missingTiles() const;

    std::unique_ptr<TileSource> m_tiles;
    NetworkTileSource* m_network = nullptr; // m_tiles when it is the network's
    MapViewport m_viewport;
    MapRenderer m_renderer;
};
