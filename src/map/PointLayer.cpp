#include "PointLayer.h"

#include "TileMath.h"

#include <algorithm>

PointLayer::PointLayer(QString name, RssiPalette palette)
    : m_name(std::move(name))
    , m_palette(palette)
{
}

void PointLayer::add(MapPoint point)
{
    if (point.colour == 0)
        point.colour = m_palette.argb(point.rssi);
    const QPointF w = TileMath::worldFromGeo(point.latitude, point.longitude);
    m_left = std::min(m_left, w.x());
    m_right = std::max(m_right, w.x());
    m_top = std::min(m_top, w.y());
    m_bottom = std::max(m_bottom, w.y());
    m_points.push_back(point);
    m_world.push_back(w);
}

void PointLayer::reserve(std::size_t n)
{
    m_points.reserve(n);
    m_world.reserve(n);
}

void PointLayer::recolour(const RssiPalette& palette)
{
    m_palette = palette;
    for (MapPoint& p : m_points)
        p.colour = palette.argb(p.rssi);
}

QRectF PointLayer::worldBounds() const
{
    if (m_points.empty())
        return {};
    return QRectF(QPointF(m_left, m_top), QPointF(m_right, m_bottom));
}
