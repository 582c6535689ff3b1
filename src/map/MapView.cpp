#include "MapView.h"

#include "TileMath.h"
#include "TileSource.h"

#include <QDateTime>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
constexpr int kArrowStep = 64; // logical pixels per arrow key press
constexpr double kMarkerMargin = 24; // logical pixels: a marker closer to the edge brings the map round
}

MapView::MapView(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 240);
    setAccessibleName(tr("Map"));
    setAccessibleDescription(tr("Drive map: arrow keys pan, plus and minus zoom"));
    m_viewport.setSize(size());
}

std::size_t MapView::pointCount() const
{
    std::size_t n = 0;
    for (const PointLayer& l : m_layers)
        n += l.size();
    return n;
}

void MapView::setTileSource(TileSource* tiles)
{
    if (m_tiles)
        disconnect(m_tiles, nullptr, this, nullptr);
    m_tiles = tiles;
    if (tiles)
        connect(tiles, &TileSource::tileReady, this, [this](int zoom) {
            if (zoom == m_viewport.zoom())
                update();
        });
    update();
}

void MapView::setLegend(const RssiPalette& palette)
{
    m_legend = palette;
    update();
}

void MapView::clear()
{
    m_layers.clear();
    m_selection = {};
    changed();
}

void MapView::addLivePoint(const QString& layerName, const MapPoint& point)
{
    if (m_layers.empty() || m_layers.back().name() != layerName)
        m_layers.emplace_back(layerName, m_legend);
    const bool first = pointCount() == 0;
    m_layers.back().add(point);
    if (first)
        fitDrive();
    else if (m_follow)
        centreOnNewest();
    update();
}

void MapView::setFollowNewest(bool follow)
{
    m_follow = follow;
    if (follow)
        centreOnNewest();
}

void MapView::centreOnNewest()
{
    if (m_layers.empty() || m_layers.back().empty())
        return;
    m_viewport.setCentre(m_layers.back().world().back());
    changed();
}

// Every point in view at the largest zoom, across the antimeridian when that
// is narrower. The points are first gathered into narrow stretches of x
// (their exact extremes kept), so a long drive costs one pass and no copy.
void MapView::fitDrive()
{
    constexpr int kStretches = 4096;
    std::vector<QRectF> stretches(kStretches);
    std::vector<bool> used(kStretches, false);
    for (const PointLayer& l : m_layers)
        for (const QPointF& w : l.world()) {
            const int k = std::clamp(int(w.x() * kStretches), 0, kStretches - 1);
            QRectF& r = stretches[k];
            if (!used[k]) {
                r = QRectF(w, QSizeF(0, 0));
                used[k] = true;
                continue;
            }
            r.setLeft(std::min(r.left(), w.x()));
            r.setRight(std::max(r.right(), w.x()));
            r.setTop(std::min(r.top(), w.y()));
            r.setBottom(std::max(r.bottom(), w.y()));
        }
    std::vector<QRectF> boxes;
    for (int k = 0; k < kStretches; ++k)
        if (used[k])
            boxes.push_back(stretches[k]);
    if (boxes.empty())
        return;
    m_viewport.fit(TileMath::wrappedBounds(std::move(boxes)));
    changed();
}

void MapView::setMarker(std::optional<QPointF> world)
{
    m_renderer.setMarker(world);
    if (world) {
        const QPointF at = m_viewport.screenFromWorld(*world);
        const QRectF inside = QRectF(QPointF(0, 0), m_viewport.size()).adjusted(kMarkerMargin, kMarkerMargin, -kMarkerMargin, -kMarkerMargin);
        if (!inside.contains(at)) {
            m_viewport.setCentre(*world);
            changed();
            return;
        }
    }
    update();
}

void MapView::layersChanged()
{
    m_selection = {};
    changed();
}

void MapView::changed()
{
    update();
    emit viewChanged();
}

void MapView::zoomIn()
{
    m_viewport.zoomBy(1, QPointF(width() / 2.0, height() / 2.0));
    changed();
}

void MapView::zoomOut()
{
    m_viewport.zoomBy(-1, QPointF(width() / 2.0, height() / 2.0));
    changed();
}

QImage MapView::renderImage()
{
    const qreal ratio = devicePixelRatioF();
    QImage image(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    m_viewport.setSize(size());
    m_renderer.render(image, m_viewport, m_tiles, m_layers, m_legend, m_selection);
    return image;
}

void MapView::paintEvent(QPaintEvent*)
{
    const QImage frame = renderImage();
    QPainter p(this);
    p.drawImage(QPointF(0, 0), frame);
}

void MapView::resizeEvent(QResizeEvent*)
{
    m_viewport.setSize(size());
}

QPointF MapView::screenPosition(int layer, std::size_t index) const
{
    return m_viewport.screenFromWorld(m_layers[layer].world()[index]);
}

MapRenderer::Selection MapView::pointAt(QPointF screen) const
{
    const double reach = m_renderer.dotRadius() + 2;
    double best = reach * reach;
    MapRenderer::Selection found;
    // The dot drawn last is on top: search from the newest layer and point.
    for (int l = int(m_layers.size()) - 1; l >= 0; --l) {
        const auto& world = m_layers[l].world();
        for (int i = int(world.size()) - 1; i >= 0; --i) {
            const QPointF d = m_viewport.screenFromWorld(world[i]) - screen;
            const double dist = d.x() * d.x() + d.y() * d.y();
            if (dist < best) {
                best = dist;
                found = {l, i};
            }
        }
        if (found.layer >= 0)
            return found;
    }
    return found;
}

QString MapView::describe(const MapPoint& p)
{
    QStringList parts;
    parts << QDateTime::fromMSecsSinceEpoch(p.timeMs, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss 'UTC'"));
    parts << QStringLiteral("%1° %2  %3° %4")
                 .arg(std::abs(p.latitude), 0, 'f', 6)
                 .arg(p.latitude < 0 ? QLatin1Char('S') : QLatin1Char('N'))
                 .arg(std::abs(p.longitude), 0, 'f', 6)
                 .arg(p.longitude < 0 ? QLatin1Char('W') : QLatin1Char('E'));
    if (p.receiver >= 0)
        parts << QStringLiteral("R%1").arg(p.receiver + 1);
    if (p.channel >= 0)
        parts << QStringLiteral("Channel %1").arg(p.channel);
    if (p.frequencyMHz > 0)
        parts << QStringLiteral("%1 MHz").arg(p.frequencyMHz, 0, 'f', 5);
    parts << QStringLiteral("%1 dBm").arg(p.rssi);
    return parts.join(QStringLiteral("  "));
}

void MapView::wheelEvent(QWheelEvent* e)
{
    m_wheelAccumulator += e->angleDelta().y();
    const int levels = m_wheelAccumulator / 120;
    if (levels != 0) {
        m_wheelAccumulator -= levels * 120;
        m_viewport.zoomBy(levels, e->position());
        changed();
    }
    e->accept();
}

void MapView::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        m_dragging = true;
        m_dragged = false;
        m_dragFrom = e->position();
    }
}

void MapView::mouseMoveEvent(QMouseEvent* e)
{
    if (!m_dragging)
        return;
    const QPointF delta = e->position() - m_dragFrom;
    if (!m_dragged && delta.manhattanLength() < 3)
        return;
    if (!m_dragged)
        stopFollowing();
    m_dragged = true;
    m_dragFrom = e->position();
    m_viewport.panBy(delta);
    changed();
}

void MapView::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    if (m_dragged)
        return;
    emit clickedAt(m_viewport.worldFromScreen(e->position()));
    m_selection = pointAt(e->position());
    update();
    if (m_selection.layer >= 0)
        emit pointSelected(describe(m_layers[m_selection.layer].point(m_selection.index)));
}

void MapView::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomIn();
        return;
    case Qt::Key_Minus:
        zoomOut();
        return;
    case Qt::Key_Left:
        m_viewport.panBy(QPointF(kArrowStep, 0));
        break;
    case Qt::Key_Right:
        m_viewport.panBy(QPointF(-kArrowStep, 0));
        break;
    case Qt::Key_Up:
        m_viewport.panBy(QPointF(0, kArrowStep));
        break;
    case Qt::Key_Down:
        m_viewport.panBy(QPointF(0, -kArrowStep));
        break;
    default:
        QWidget::keyPressEvent(e);
        return;
    }
    stopFollowing();
    changed();
}

// Moving the map by hand means the user wants to look elsewhere.
void MapView::stopFollowing()
{
    if (!m_follow)
        return;
    m_follow = false;
    emit followChanged(false);
}

bool MapView::event(QEvent* e)
{
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        const MapRenderer::Selection at = pointAt(help->pos());
        if (at.layer >= 0)
            QToolTip::showText(help->globalPos(), describe(m_layers[at.layer].point(at.index)), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(e);
}
