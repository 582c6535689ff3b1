#pragma once

#include "MapRenderer.h"
#include "MapViewport.h"
#include "PointLayer.h"
#include "protocol/RssiPalette.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <optional>
#include <vector>

#include "TileSource.h"

// The map on screen: a base map, layers of coloured dots and the overlays.
// Wheel and +/− zoom, dragging and the arrow keys pan; hovering shows a
// point's details and clicking selects it.
class MapView : public QWidget
{
    Q_OBJECT
public:
    explicit MapView(QWidget* parent = nullptr);

    MapViewport& viewport() { return m_viewport; }
    const MapViewport& viewport() const { return m_viewport; }
    std::vector<PointLayer>& layers() { return m_layers; }
    const std::vector<PointLayer>& layers() const { return m_layers; }
    std::size_t pointCount() const;

    // Not owned; null draws the grid everywhere.
    void setTileSource(TileSource* tiles);
    TileSource* tileSource() const { return m_tiles; }
    void setLegend(const RssiPalette& palette);
    const RssiPalette& legend() const { return m_legend; }

    void clear();
    // Appends to the last layer, or starts a new one when `layerName` differs.
    void addLivePoint(const QString& layerName, const MapPoint& point);
    void setFollowNewest(bool follow);
    bool followNewest() const { return m_follow; }
    void fitDrive();
    void layersChanged(); // after changing layers() directly
    // Coverage cells under the dots; null: none. Not owned.
    void setCoverage(const CoverageLayer* coverage)
    {
        m_renderer.setCoverage(coverage);
        update();
    }
    // Acceptance tiles above the cells; null: none. Not owned.
    void setAcceptance(const AcceptanceLayer* acceptance)
    {
        m_renderer.setAcceptance(acceptance);
        update();
    }

    // The time slider's marker at a world position, brought into view when
    // it lies outside; none hides it.
    void setMarker(std::optional<QPointF> world);
    std::optional<QPointF> marker() const { return m_renderer.marker(); }

    // The frame as drawn now, at the widget's size.
    QImage renderImage();
    QPointF screenPosition(int layer, std::size_t index) const;
    MapRenderer::Selection pointAt(QPointF screen) const;
    MapRenderer::Selection selection() const { return m_selection; }

    static QString describe(const MapPoint& point);

public slots:
    void zoomIn();
    void zoomOut();

signals:
    void viewChanged();
    void pointSelected(const QString& description);
    void followChanged(bool follow);
    // A click that was not a drag, at a world position.
    void clickedAt(QPointF world);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    bool event(QEvent*) override;

private:
    void changed();
    void centreOnNewest();
    void stopFollowing();

    MapViewport m_viewport;
    std::vector<PointLayer> m_layers;
    QPointer<TileSource> m_tiles;
    RssiPalette m_legend;
    MapRenderer m_renderer;
    MapRenderer::Selection m_selection;
    bool m_follow = true;
    bool m_dragging = false;
    bool m_dragged = false;
    QPointF m_dragFrom;
    int m_wheelAccumulator = 0;
};
