#include "map/DotRenderer.h"
#include "map/PointLayer.h"
#include "map/TileMath.h"
#include "protocol/RssiPalette.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

TEST(RssiPalette, DotColoursAreQtsOwnHsvRamp)
{
    for (const auto& [minimum, maximum] : {std::pair{-120, -50}, std::pair{-100, -20}, std::pair{-50, -120}}) {
        const RssiPalette palette(minimum, maximum);
        for (int rssi = -130; rssi <= 0; ++rssi) {
            SCOPED_TRACE(rssi);
            const double hue = 240.0 * (1.0 - palette.position(rssi));
            const QColor qt = QColor::fromHsvF(hue / 360.0, 1.0, 1.0).toRgb();
            const QRgb ours = palette.argb(rssi);
            EXPECT_EQ(qAlpha(ours), 255);
            EXPECT_NEAR(qRed(ours), qt.red(), 1);
            EXPECT_NEAR(qGreen(ours), qt.green(), 1);
            EXPECT_NEAR(qBlue(ours), qt.blue(), 1);
        }
    }
}

// A legend labels values between its ends, on round steps, never crowding an end.
TEST(RssiPalette, LegendValuesLieBetweenTheEndsOnRoundSteps)
{
    struct Case
    {
        int minimum, maximum; // dBm
        std::vector<int> values;
    };
    const Case cases[] = {
        {-120, -50, {-120, -110, -100, -90, -80, -70, -60, -50}},
        {-50, -120, {-120, -110, -100, -90, -80, -70, -60, -50}}, // reversed
        {-120, -30, {-120, -100, -80, -60, -30}},                  // -40 would crowd -30
        {-125, -50, {-125, -100, -80, -50}},
        {-101, -99, {-101, -100, -99}},
        {-150, 0, {-150, -100, -50, 0}},
        {-90, -90, {-90}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.minimum) + ".." + std::to_string(c.maximum));
        EXPECT_EQ(RssiPalette(c.minimum, c.maximum).legendValues(), c.values);
    }
    // The same scale as the map's and klf-coverage's default range.
    EXPECT_EQ(RssiPalette(), RssiPalette(-120, -50));
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
