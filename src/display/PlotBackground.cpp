#include "PlotBackground.h"

#include <QPainter>
#include <QPen>

#include <algorithm>

namespace {
const QColor kGrey(0x80, 0x80, 0x80);
const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kMaroon(0x80, 0x00, 0x00);
} // namespace

QImage PlotBackground::build(const DBarGeometry& g, int divisions, const Markers& markers, const Trace& trace,
                             int lastTracePoint, qreal dpr)
{
    const int w = g.plotWidth, h = g.plotHeight;
    if (w <= 0 || h <= 0)
        return {};
    QImage image(qRound(w * dpr), qRound(h * dpr), QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(kWhite);
    const int pl = g.plotRect.left, pt = g.plotRect.top, pr = g.plotRect.right, pb = g.plotRect.bottom;
    QPainter p(&image);
    // The last line lies just below the image: as many lines as divisions show.
    p.setPen(QPen(kGrey, 1));
    for (int i = 0; i <= divisions; ++i) {
        const int y = i * h / divisions;
        p.drawLine(0, y, w, y);
    }

    QPen dashed(kGrey, 1, Qt::DashLine);
    for (int i = 0; i < 4; ++i) {
        const Marker& m = markers[size_t(i)];
        if (!m.enabled)
            continue;
        dashed.setColor(m.color);
        p.setPen(dashed);
        if (i < 2) {
            const int x = std::clamp(g.ValueToPixel(DBarGeometry::XAxis, m.position), pl, pr);
            p.drawLine(x - pl, 0, x - pl, pb - pt);
        } else {
            const int y = std::clamp(g.ValueToPixel(DBarGeometry::YAxis, m.position), pt, pb);
            p.drawLine(0, y - pt, pr - pl, y - pt);
        }
    }

    if (lastTracePoint < 0)
        return image;
    p.setPen(QPen(kMaroon, 1));
    QPoint last;
    for (int i = 0; i <= std::min(lastTracePoint, kTracePoints - 1); ++i) {
        const int x = std::clamp(g.ValueToPixel(DBarGeometry::XAxis, trace[size_t(i)].x), pl, pr);
        const int y = std::clamp(g.ValueToPixel(DBarGeometry::YAxis, trace[size_t(i)].y), pt, pb);
        const QPoint point(x - pl, y - pt);
        if (i > 0)
            p.drawLine(last, point);
        last = point;
    }
    return image;
}
