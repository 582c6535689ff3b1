#include "MapRenderer.h"

#include "AcceptanceLayer.h"
#include "AcceptanceLegend.h"
#include "CoverageLayer.h"
#include "CoverageLegend.h"

#include "MapOverlay.h"
#include "MapViewport.h"
#include "TileMath.h"
#include "TileSource.h"

#include <QPainter>

#include <cmath>

namespace {
const QColor kLand(242, 239, 233);
const QColor kOutside(200, 200, 200);
const QColor kGridMajor(200, 195, 186);
const QColor kGridMinor(225, 221, 213);
constexpr int kMaxOverzoom = 6; // levels
constexpr int kStandInLevels = 4;
} // namespace

MapRenderer::MapRenderer(int dotRadius)
    : m_dotRadius(dotRadius)
    , m_dots(dotRadius)
{
}

void MapRenderer::drawGrid(QPainter& p, const QRectF& cell)
{
    p.fillRect(cell, kLand);
    p.setPen(QPen(kGridMinor, 1));
    for (int i = 1; i < 4; ++i) {
        const double f = cell.width() * i / 4;
        p.drawLine(QPointF(cell.left() + f, cell.top()), QPointF(cell.left() + f, cell.bottom()));
        p.drawLine(QPointF(cell.left(), cell.top() + f), QPointF(cell.right(), cell.top() + f));
    }
    p.setPen(QPen(kGridMajor, 1));
    p.drawLine(cell.topLeft(), cell.topRight());
    p.drawLine(cell.topLeft(), cell.bottomLeft());
}

// While a tile is on its way, a coarser one already at hand stands in for it.
bool MapRenderer::drawEnlarged(QPainter& p, const QRectF& cell, TileSource& tiles, int zoom, int x, int y)
{
    for (int up = 1; up <= kStandInLevels && up <= zoom; ++up) {
        const QImage parent = tiles.cached(zoom - up, x >> up, y >> up);
        if (parent.isNull())
            continue;
        const double part = double(TileMath::kTileSize >> up);
        const int mask = (1 << up) - 1;
        p.drawImage(cell, parent, QRectF((x & mask) * part, (y & mask) * part, part, part));
        return true;
    }
    return false;
}

int MapRenderer::render(QImage& image, const MapViewport& viewport, TileSource* tiles,
                        const std::vector<PointLayer>& layers, const RssiPalette& legend,
                        Selection selection)
{
    const double ratio = image.devicePixelRatio();
    if (ratio != m_dotsRatio) {
        m_dots = DotRenderer(int(std::lround(m_dotRadius * ratio)));
        m_dotsRatio = ratio;
    }
    const QRectF view(QPointF(0, 0), viewport.size());
    const int zoom = viewport.zoom();
    const QPointF origin = viewport.topLeftPixel();
    const int last = (1 << zoom) - 1;
    const int ts = TileMath::kTileSize;
    bool tileDrawn = false;

    {
        QPainter p(&image);
        p.fillRect(view, kOutside);
        // Columns go round the world: a view across ±180° shows the tiles
        // of the far side, not a blank. Rows stop at the poles' edges.
        const int x0 = int(std::floor(origin.x() / ts));
        const int y0 = std::max(0, int(std::floor(origin.y() / ts)));
        const int x1 = int(std::floor((origin.x() + view.width()) / ts));
        const int y1 = std::min(last, int(std::floor((origin.y() + view.height()) / ts)));
        const auto column = [last](int x) { return x & last; }; // the world is 2^zoom tiles round
        if (tiles)
            tiles->forgetPending();
        // Past the base map's deepest level its tiles are enlarged, as far as
        // they still show something (a 256-pixel tile cut in 64 × 64 parts).
        const int deepest = tiles ? tiles->maxZoom() : -1;
        const int over = zoom - deepest;
        const bool tilesAllowed = tiles && over <= kMaxOverzoom;
        p.setRenderHint(QPainter::SmoothPixmapTransform, ratio != 1 || over > 0);
        // The source is credited only where its tiles are seen.
        for (int y = y0; y <= y1; ++y) {
            for (int at = x0; at <= x1; ++at) {
                const QRectF cell(at * ts - origin.x(), y * ts - origin.y(), ts, ts);
                const int x = column(at);
                if (!tilesAllowed) {
                    drawGrid(p, cell);
                } else if (over <= 0) {
                    const QImage tile = tiles->tile(zoom, x, y);
                    if (!tile.isNull()) {
                        p.drawImage(cell, tile);
                        tileDrawn = true;
                    } else if (drawEnlarged(p, cell, *tiles, zoom, x, y)) {
                        tileDrawn = true;
                    } else {
                        drawGrid(p, cell);
                    }
                } else {
                    const QImage parent = tiles->tile(deepest, x >> over, y >> over);
                    const double part = double(ts >> over);
                    const int mask = (1 << over) - 1;
                    const QRectF source((x & mask) * part, (y & mask) * part, part, part);
                    parent.isNull() ? drawGrid(p, cell) : p.drawImage(cell, parent, source);
                    tileDrawn = tileDrawn || !parent.isNull();
                }
            }
        }
        if (m_coverage)
            m_coverage->draw(p, viewport, legend);
        if (m_acceptance)
            m_acceptance->draw(p, viewport);
    }

    int drawn = 0;
    const double worldSize = TileMath::worldSize(zoom) * ratio;
    for (const PointLayer& layer : layers)
        drawn += m_dots.draw(image, layer, origin * ratio, worldSize);

    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (selection.layer >= 0 && selection.layer < int(layers.size()) && selection.index >= 0
        && selection.index < int(layers[selection.layer].size())) {
        const QPointF at = viewport.screenFromWorld(layers[selection.layer].world()[selection.index]);
        p.setPen(QPen(Qt::black, 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(at, m_dotRadius + 4, m_dotRadius + 4);
    }
    if (m_marker) {
        // A ring with a cross, black under white: unlike a dot or the selection on any base map.
        const QPointF at = viewport.screenFromWorld(*m_marker);
        const double r = m_dotRadius + 5, arm = m_dotRadius + 10;
        for (const auto& [colour, width] : {std::pair{QColor(Qt::black), 4.0}, std::pair{QColor(Qt::white), 2.0}}) {
            p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(at, r, r);
            p.drawLine(at + QPointF(r, 0), at + QPointF(arm, 0));
            p.drawLine(at - QPointF(r, 0), at - QPointF(arm, 0));
            p.drawLine(at + QPointF(0, r), at + QPointF(0, arm));
            p.drawLine(at - QPointF(0, r), at - QPointF(0, arm));
        }
    }
    const QPointF centre = viewport.centre();
    MapOverlay::drawScaleBar(p, view, TileMath::metresPerPixel(TileMath::geoFromWorld(centre).latitude, zoom));
    MapOverlay::drawNorthArrow(p, view);
    const bool acceptance = m_acceptance && !m_acceptance->empty();
    if (m_coverage && !m_coverage->empty())
        CoverageLegend::draw(p, view, *m_coverage, legend);
    else if (!acceptance || drawn > 0) // the dBm scale only where something is coloured by it
        MapOverlay::drawLegend(p, view, legend);
    if (acceptance)
        AcceptanceLegend::draw(p, view, m_acceptance->hasArea());
    if (tileDrawn)
        MapOverlay::drawAttribution(p, view, tiles->attribution());
    return drawn;
}
