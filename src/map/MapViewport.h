#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

// What the map shows: a zoom level, the world position at the view's centre
// and the view's size. Zoom stays on whole levels so tiles are drawn 1:1.
class MapViewport
{
public:
    static constexpr int kMinZoom = 1;

    int zoom() const { return m_zoom; }
    QPointF centre() const { return m_centre; } // TileMath world coordinates
    QSizeF size() const { return m_size; }      // logical pixels

    void setSize(QSizeF size) { m_size = size; }
    void setZoom(int zoom);
    // East and west the world goes round: x is taken modulo 1, y is clamped.
    void setCentre(QPointF world);

    // Logical pixels from the top left, on the copy of the world nearest
    // the view's centre, so that what lies across the antimeridian from the
    // centre is drawn beside it.
    QPointF screenFromWorld(QPointF world) const;
    QPointF worldFromScreen(QPointF screen) const; // x in [0, 1)
    QPointF topLeftPixel() const; // world pixel at the view's top left corner

    void panBy(QPointF screenDelta); // the map moves with the pointer
    // Zooms by whole levels, keeping the world point under `anchor` in place.
    void zoomBy(int levels, QPointF anchor);
    // The largest zoom at which `bounds` fits, centred; a single point gets
    // `closeZoom`. Bounds across the antimeridian start below x = 0
    // (TileMath::wrappedBounds).
    void fit(const QRectF& bounds, int closeZoom = 16, double margin = 24);

private:
    int m_zoom = 3;
    QPointF m_centre{0.5, 0.5};
    QSizeF m_size{800, 600};
};
