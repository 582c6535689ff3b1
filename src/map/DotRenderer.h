#pragma once

#include <QImage>
#include <QPointF>

#include <vector>

class PointLayer;

// Stamps the dots straight into a 32-bit image: a filled disc of the point's
// colour inside a dark rim. Rims go down first and fills over them, so a
// dense stretch of drive shows its colours with one outline round it rather
// than a dark smear of overlapping rims. A hundred thousand points through QPainter's
// ellipse path take far longer than a redraw may (a pan must stay fluid);
// writing a precomputed disc of pixels keeps a full redraw to a few
// milliseconds.
class DotRenderer
{
public:
    explicit DotRenderer(int radius = 4); // device pixels, rim included

    int radius() const { return m_radius; }

    // Draws every point of `layer` whose disc touches `image`; `origin` is the
    // world pixel (at `worldSize`, in device pixels) of the image's top left.
    // Returns the number of dots drawn.
    int draw(QImage& image, const PointLayer& layer, QPointF origin, double worldSize) const;

private:
    struct Span
    {
        int dy;
        int halfWidth;   // the row covers dx in [-halfWidth, halfWidth]
        int innerHalf;   // -1: the whole row is rim
    };

    int m_radius;
    std::vector<Span> m_spans;
};
