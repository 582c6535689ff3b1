#include "MapRenderer.h"

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

    {
        QPainter p(&image);
        p.fillRect(view, kOutside);
        const int x0 = std::max(0, int(std::floor(origin.x() / ts)));
        const int y0 = std::max(0, int(std::floor(origin.y() / ts)));
        const int x1 = std::min(last, int(std::floor((origin.x() + view.width()) / ts)));
        const int y1 = std::min(last, int(std::floor((origin.y() + view.height()) / ts)));
        if (tiles)
            tiles->forgetPending();
        const bool tilesAllowed = tiles && zoom <= tiles->maxZoom();
        p.setRenderHint(QPainter::SmoothPixmapTransform, ratio != 1);
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                const QRectF cell(x * ts - origin.x(), y * ts - origin.y(), ts, ts);
                const QImage tile = tilesAllowed ? tiles->tile(zoom, x, y) : QImage();
                if (tile.isNull())
                    drawGrid(p, cell);
                else
                    p.drawImage(cell, tile);
            }
        }
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
    const QPointF centre = viewport.centre();
    MapOverlay::drawScaleBar(p, view, TileMath::metresPerPixel(TileMath::geoFromWorld(centre).latitude, zoom));
    MapOverlay::drawNorthArrow(p, view);
    MapOverlay::drawLegend(p, view, legend);
    if (tiles)
        MapOverlay::drawAttribution(p, view, tiles->attribution());
    return drawn;
}
