#include "MapViewport.h"

#include "TileMath.h"

#include <algorithm>

void MapViewport::setZoom(int zoom)
{
    m_zoom = std::clamp(zoom, kMinZoom, TileMath::kMaxZoom);
}

void MapViewport::setCentre(QPointF world)
{
    m_centre = QPointF(std::clamp(world.x(), 0.0, 1.0), std::clamp(world.y(), 0.0, 1.0));
}

QPointF MapViewport::topLeftPixel() const
{
    return m_centre * TileMath::worldSize(m_zoom) - QPointF(m_size.width(), m_size.height()) / 2;
}

QPointF MapViewport::screenFromWorld(QPointF world) const
{
    return world * TileMath::worldSize(m_zoom) - topLeftPixel();
}

QPointF MapViewport::worldFromScreen(QPointF screen) const
{
    return (screen + topLeftPixel()) / TileMath::worldSize(m_zoom);
}

void MapViewport::panBy(QPointF screenDelta)
{
    setCentre(m_centre - screenDelta / TileMath::worldSize(m_zoom));
}

void MapViewport::zoomBy(int levels, QPointF anchor)
{
    const QPointF held = worldFromScreen(anchor);
    setZoom(m_zoom + levels);
    const QPointF drift = worldFromScreen(anchor) - held;
    setCentre(m_centre - drift);
}

void MapViewport::fit(const QRectF& bounds, int closeZoom, double margin)
{
    if (bounds.isNull() && bounds.topLeft().isNull())
        return;
    setCentre(bounds.center());
    const double w = std::max(1.0, m_size.width() - 2 * margin);
    const double h = std::max(1.0, m_size.height() - 2 * margin);
    int zoom = closeZoom;
    if (bounds.width() > 0 || bounds.height() > 0) {
        zoom = TileMath::kMaxZoom;
        while (zoom > kMinZoom
               && (bounds.width() * TileMath::worldSize(zoom) > w
                   || bounds.height() * TileMath::worldSize(zoom) > h))
            --zoom;
        zoom = std::min(zoom, 18);
    }
    setZoom(zoom);
}
