#include "map/DotRenderer.h"
#include "map/PointLayer.h"
#include "map/RssiPalette.h"
#include "map/TileMath.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

struct PaletteCase
{
    const char* legend;
    int minimum, maximum, rssi;
    QRgb expected;
};

const PaletteCase kPalette[] = {
    {"minimum is blue", -120, -50, -120, qRgb(0, 0, 255)},
    {"maximum is red", -120, -50, -50, qRgb(255, 0, 0)},
    {"middle is green", -120, -50, -85, qRgb(0, 255, 0)},
    {"a quarter up is cyan", -100, -20, -80, qRgb(0, 255, 255)},
    {"three quarters up is yellow", -100, -20, -40, qRgb(255, 255, 0)},
    {"an eighth up, between blue and cyan", -100, -20, -90, qRgb(0, 127, 255)},
    {"seven eighths up, orange", -100, -20, -30, qRgb(255, 128, 0)},
    {"below the range clamps to blue", -120, -50, -127, qRgb(0, 0, 255)},
    {"above the range clamps to red", -120, -50, 0, qRgb(255, 0, 0)},
    {"a reversed range reads lowest to highest", -50, -120, -50, qRgb(255, 0, 0)},
    {"a reversed range, its low end", -50, -120, -120, qRgb(0, 0, 255)},
    {"an empty range: at its value is red", -80, -80, -80, qRgb(255, 0, 0)},
    {"an empty range: below is blue", -80, -80, -81, qRgb(0, 0, 255)},
};

TEST(RssiPalette, HueRunsFromBlueAtTheMinimumToRedAtTheMaximum)
{
    for (const PaletteCase& c : kPalette) {
        SCOPED_TRACE(c.legend);
        const RssiPalette palette(c.minimum, c.maximum);
        EXPECT_EQ(QColor(palette.rgb(c.rssi)), QColor(c.expected));
        // Cross-check against Qt's own HSV conversion.
        const double hue = 240.0 * (1.0 - palette.position(c.rssi));
        const QColor qt = QColor::fromHsvF(hue / 360.0, 1.0, 1.0).toRgb();
        EXPECT_NEAR(qRed(palette.rgb(c.rssi)), qt.red(), 1);
        EXPECT_NEAR(qGreen(palette.rgb(c.rssi)), qt.green(), 1);
        EXPECT_NEAR(qBlue(palette.rgb(c.rssi)), qt.blue(), 1);
    }
}

TEST(DotRenderer, DrawsFilledDotsInTheirColourWithARimAndSkipsThoseOffTheImage)
{
    PointLayer layer(QStringLiteral("t"), RssiPalette(-120, -50));
    MapPoint p;
    p.latitude = 40.5471;
    p.longitude = -74.3803;
    p.rssi = -50;
    layer.add(p);
    p.longitude = -74.3790;
    p.rssi = -120;
    layer.add(p);
    p.longitude = -70.0; // far outside
    layer.add(p);

    const int zoom = 16;
    const double worldSize = TileMath::worldSize(zoom);
    QImage image(200, 100, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    const QPointF first = layer.world()[0] * worldSize;
    const QPointF origin = first - QPointF(50, 50);
    DotRenderer dots(4);
    EXPECT_EQ(dots.draw(image, layer, origin, worldSize), 2);

    const QPoint c1 = (layer.world()[0] * worldSize - origin).toPoint();
    const QPoint c2 = (layer.world()[1] * worldSize - origin).toPoint();
    ASSERT_GT(c2.x() - c1.x(), 10) << "the two dots are apart";
    EXPECT_EQ(QColor(image.pixel(c1)), QColor(Qt::red));
    EXPECT_EQ(QColor(image.pixel(c1 + QPoint(2, 2))), QColor(Qt::red));
    EXPECT_EQ(QColor(image.pixel(c2)), QColor(Qt::blue));
    EXPECT_EQ(QColor(image.pixel(c1 + QPoint(4, 0))), QColor(0x20, 0x20, 0x20)) << "rim";
    EXPECT_EQ(QColor(image.pixel(c1 + QPoint(6, 0))), QColor(Qt::white)) << "outside the dot";

    // A dot half over the edge is clipped, not wrapped or written outside.
    QImage edge(20, 20, QImage::Format_ARGB32_Premultiplied);
    edge.fill(Qt::white);
    EXPECT_EQ(dots.draw(edge, layer, first - QPointF(-2, 10), worldSize), 1);
    EXPECT_EQ(QColor(edge.pixel(0, 10)), QColor(Qt::red));
    EXPECT_EQ(QColor(edge.pixel(19, 10)), QColor(Qt::white));
}

TEST(PointLayer, KeepsLiveColoursAndRecoloursRecordedPoints)
{
    PointLayer layer(QStringLiteral("t"), RssiPalette(-120, -50));
    MapPoint live;
    live.latitude = 1;
    live.longitude = 1;
    live.rssi = -85;
    live.colour = qRgb(255, 0, 0); // coloured with the range of its moment
    layer.add(live);
    MapPoint recorded = live;
    recorded.colour = 0;
    layer.add(recorded);
    EXPECT_EQ(layer.point(0).colour, qRgb(255, 0, 0));
    EXPECT_EQ(layer.point(1).colour, qRgb(0, 255, 0));
    layer.recolour(RssiPalette(-85, -20));
    EXPECT_EQ(layer.point(0).colour, qRgb(0, 0, 255));
    EXPECT_EQ(layer.point(1).colour, qRgb(0, 0, 255));
}

} // namespace
