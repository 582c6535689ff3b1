#include "MapViewport.h"

#include "TileMath.h"

#include <algorithm>
#include <cmath>

namespace {
double wrapped(double x)
{
    return x - std::floor(x);
}
} // namespace

void MapViewport::setZoom(int zoom)
{
    m_zoom = std::clamp(zoom, kMinZoom, TileMath::kMaxZoom);
}

void MapViewport::setCentre(QPointF world)
{
    m_centre = QPointF(wrapped(world.x()), std::clamp(world.y(), 0.0, 1.0));
}

QPointF MapViewport::topLeftPixel() const
{
    return m_centre * TileMath::worldSize(m_zoom) - QPointF(m_size.width(), m_size.height()) / 2;
}

QPointF MapViewport::screenFromWorld(QPointF world) const
{
    double dx = world.x() - m_centre.x();
    dx -= std::round(dx); // the nearest copy: -0.5 to 0.5 worlds from the centre
    const double size = TileMath::worldSize(m_zoom);
    return QPointF(dx * size + m_size.width() / 2, (world.y() - m_centre.y()) * size + m_size.height() / 2);
}

QPointF MapViewport::worldFromScreen(QPointF screen) const
{
    const QPointF world = (screen + topLeftPixel()) / TileMath::worldSize(m_zoom);
    return QPointF(wrapped(world.x()), world.y());
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
