#include "DotRenderer.h"

#include "PointLayer.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr QRgb kRim = 0xff202020;
}

DotRenderer::DotRenderer(int radius)
    : m_radius(std::max(1, radius))
{
    const double outer = m_radius + 0.5;
    const double inner = m_radius - 0.5;
    for (int dy = -m_radius; dy <= m_radius; ++dy) {
        const int half = int(std::floor(std::sqrt(std::max(0.0, outer * outer - dy * dy))));
        const double innerSq = inner * inner - dy * dy;
        const int innerHalf = innerSq > 0 ? int(std::floor(std::sqrt(innerSq) - 0.5)) : -1;
        m_spans.push_back({dy, std::min(half, m_radius), std::min(innerHalf, half - 1)});
    }
}

int DotRenderer::draw(QImage& image, const PointLayer& layer, QPointF origin, double worldSize) const
{
    Q_ASSERT(image.depth() == 32);
    const int w = image.width();
    const int h = image.height();
    const auto& world = layer.world();
    const double ox = origin.x();
    const double oy = origin.y();
    const int r = m_radius;
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    int drawn = 0;

    // The world goes round: a dot is drawn on the copy of the world nearest
    // the image's middle, as MapViewport::screenFromWorld places everything.
    const double middle = ox + w / 2.0;
    for (int pass = 0; pass < 2; ++pass) {
        const bool rims = pass == 0;
        for (std::size_t i = 0; i < world.size(); ++i) {
            const double x = world[i].x() * worldSize;
            const int cx = int(std::lround(x - worldSize * std::round((x - middle) / worldSize) - ox));
            const int cy = int(std::lround(world[i].y() * worldSize - oy));
            if (cx < -r || cy < -r || cx >= w + r || cy >= h + r)
                continue;
            const QRgb fill = layer.point(i).colour | 0xff000000;
            for (const Span& s : m_spans) {
                const int y = cy + s.dy;
                if (y < 0 || y >= h)
                    continue;
                auto* row = reinterpret_cast<QRgb*>(bits + y * stride);
                auto span = [&](int from, int to, QRgb colour) {
                    from = std::max(0, from);
                    to = std::min(w - 1, to);
                    if (from <= to)
                        std::fill(row + from, row + to + 1, colour);
                };
                if (!rims) {
                    if (s.innerHalf >= 0)
                        span(cx - s.innerHalf, cx + s.innerHalf, fill);
                } else if (s.innerHalf < 0) {
                    span(cx - s.halfWidth, cx + s.halfWidth, kRim);
                } else {
                    // Only the ring: every fill goes over the rims anyway.
                    span(cx - s.halfWidth, cx - s.innerHalf - 1, kRim);
                    span(cx + s.innerHalf + 1, cx + s.halfWidth, kRim);
                }
            }
            drawn += rims ? 0 : 1;
        }
    }
    return drawn;
}
