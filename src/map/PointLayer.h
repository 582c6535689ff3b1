#pragma once

#include "MapPoint.h"
#include "protocol/RssiPalette.h"

#include <QPointF>
#include <QRectF>
#include <QString>

#include <vector>

// The points of one device (live) or one filtered drive (recorded), with
// their projected positions kept beside them so a redraw only scales.
class PointLayer
{
public:
    explicit PointLayer(QString name = {}, RssiPalette palette = {});

    const QString& name() const { return m_name; }
    const RssiPalette& palette() const { return m_palette; }
    void setPalette(const RssiPalette& palette) { m_palette = palette; }

    // Keeps the point's colour when it has one (live points carry the range
    // of their moment); otherwise colours it with the layer's palette.
    void add(MapPoint point);
    void reserve(std::size_t n);
    void recolour(const RssiPalette& palette); // every point, with a new palette

    std::size_t size() const { return m_points.size(); }
    bool empty() const { return m_points.empty(); }
    const MapPoint& point(std::size_t i) const { return m_points[i]; }
    const MapPoint& newest() const { return m_points.back(); }
    const std::vector<QPointF>& world() const { return m_world; } // TileMath world coordinates
    QRectF worldBounds() const;

private:
    QString m_name;
    RssiPalette m_palette;
    std::vector<MapPoint> m_points;
    std::vector<QPointF> m_world;
    double m_left = 1, m_top = 1, m_right = 0, m_bottom = 0;
};
