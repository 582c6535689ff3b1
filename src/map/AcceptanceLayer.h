#pragma once

#include "coverage/AcceptanceArea.h"
#include "coverage/AcceptanceTile.h"

#include <QBrush>
#include <QRectF>

#include <vector>

class MapViewport;
class QPainter;

// An acceptance test's tiles on the map, by state (passed, failed, untested,
// not driven), with the outline of the area they were asked for. Drawn above
// the base map and below the dots; the report and the live map share it.
class AcceptanceLayer
{
public:
    void setTiles(std::vector<AcceptanceTile> tiles);
    void setArea(const AcceptanceArea& area);
    bool empty() const { return m_tiles.empty() && m_area.empty(); }
    size_t tileCount() const { return m_tiles.size(); }
    bool hasArea() const { return !m_area.empty(); }
    // TileMath world coordinates of the tiles and the area together; null when empty.
    QRectF worldBounds() const;

    void draw(QPainter& p, const MapViewport& viewport) const;

    // How a tile of each state is filled, for the map and its legend.
    static QBrush brush(AcceptanceTile::State state);
    static QColor outlineColour();

private:
    std::vector<AcceptanceTile> m_tiles;
    std::vector<AcceptanceArea::Polygon> m_area;
};
