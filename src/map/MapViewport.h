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
    void setCentre(QPointF world);

    QPointF screenFromWorld(QPointF world) const; // logical pixels from the top left
    QPointF worldFromScreen(QPointF screen) const;
    QPointF topLeftPixel() const; // world pixel at the view's top left corner

    void panBy(QPointF screenDelta); // the map moves with the pointer
    // Zooms by whole levels, keeping the world point under `anchor` in place.
    void zoomBy(int levels, QPointF anchor);
    // The largest zoom at which `bounds` fits, centred; a single point gets
    // `closeZoom`.
    void fit(const QRectF& bounds, int closeZoom = 16, double margin = 24);

private:
    int m_zoom = 3;
    QPointF m_centre{0.5, 0.5};
    QSizeF m_size{800, 600};
};
