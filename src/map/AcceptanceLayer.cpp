#include "AcceptanceLayer.h"

#include "MapViewport.h"
#include "TileMath.h"

#include <QPainter>
#include <QPainterPath>

namespace {
// Passed and failed are see-through, so the streets under them still show;
// the hatches say "no answer here" without hiding the base map at all.
const QColor kPassed(0, 150, 0, 170);
const QColor kFailed(215, 0, 0, 170);
const QColor kUntested(90, 90, 90);
const QColor kNotDriven(150, 150, 150);
const QColor kOutline(20, 40, 160);
constexpr double kOutlineWidth = 2.5; // logical pixels

QPolygonF screenRing(const AcceptanceArea::Ring& ring, const MapViewport& viewport)
{
    QPolygonF poly;
    poly.reserve(qsizetype(ring.size()) + 1);
    for (const auto& pt : ring)
        poly << viewport.screenFromWorld(TileMath::worldFromGeo(pt.latitude, pt.longitude));
    if (!poly.isEmpty())
        poly << poly.first();
    return poly;
}
} // namespace

void AcceptanceLayer::setTiles(std::vector<AcceptanceTile> tiles)
{
    m_tiles = std::move(tiles);
}

void AcceptanceLayer::setArea(const AcceptanceArea& area)
{
    m_area = area.polygons();
}

QBrush AcceptanceLayer::brush(AcceptanceTile::State state)
{
    switch (state) {
    case AcceptanceTile::State::Passed: return QBrush(kPassed);
    case AcceptanceTile::State::Failed: return QBrush(kFailed);
    case AcceptanceTile::State::Untested: return QBrush(kUntested, Qt::BDiagPattern);
    case AcceptanceTile::State::NotDriven: return QBrush(kNotDriven, Qt::Dense7Pattern);
    }
    return {};
}

QColor AcceptanceLayer::outlineColour()
{
    return kOutline;
}

QRectF AcceptanceLayer::worldBounds() const
{
    QRectF r;
    auto add = [&r](double north, double west, double south, double east) {
        const QRectF b(TileMath::worldFromGeo(north, west), TileMath::worldFromGeo(south, east));
        r = r.isNull() ? b : r.united(b);
    };
    for (const auto& t : m_tiles)
        add(t.bounds.north, t.bounds.west, t.bounds.south, t.bounds.east);
    for (const auto& polygon : m_area)
        for (const auto& pt : polygon.exterior)
            add(pt.latitude, pt.longitude, pt.latitude, pt.longitude);
    return r;
}

void AcceptanceLayer::draw(QPainter& p, const MapViewport& viewport) const
{
    const QRectF view(QPointF(0, 0), viewport.size());
    p.save();
    p.setPen(Qt::NoPen);
    // Tiles of a state together, so the brush changes four times, not per tile.
    for (auto state : {AcceptanceTile::State::NotDriven, AcceptanceTile::State::Untested,
                       AcceptanceTile::State::Failed, AcceptanceTile::State::Passed}) {
        p.setBrush(brush(state));
        for (const auto& t : m_tiles) {
            if (t.state != state)
                continue;
            QRectF r(viewport.screenFromWorld(TileMath::worldFromGeo(t.bounds.north, t.bounds.west)),
                     viewport.screenFromWorld(TileMath::worldFromGeo(t.bounds.south, t.bounds.east)));
            if (!r.intersects(view))
                continue;
            // At least a pixel, so a zoomed-out map still shows every tile.
            if (r.width() < 1 || r.height() < 1)
                r.setSize(QSizeF(std::max(1.0, r.width()), std::max(1.0, r.height())));
            p.drawRect(r);
        }
    }
    if (!m_area.empty()) {
        // One path with odd-even fill, so holes are holes; drawn as an outline only.
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kOutline, kOutlineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        for (const auto& polygon : m_area) {
            QPainterPath path;
            path.addPolygon(screenRing(polygon.exterior, viewport));
            for (const auto& hole : polygon.holes)
                path.addPolygon(screenRing(hole, viewport));
            p.drawPath(path);
        }
    }
    p.restore();
}
