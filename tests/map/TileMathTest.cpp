#include "map/MapViewport.h"
#include "map/TileMath.h"

#include <gtest/gtest.h>

namespace {

// Pixels computed independently with the log-tan form of the projection
// (the code uses asinh), tiles and MBTiles rows from them.
struct TileCase
{
    const char* legend;
    double latitude, longitude;
    int zoom;
    double pixelX, pixelY;
    int tileX, tileY, mbtilesRow;
};

const TileCase kCases[] = {
    {"origin, zoom 0", 0, 0, 0, 128.0, 128.0, 0, 0, 0},
    {"origin, zoom 1: a tile corner", 0, 0, 1, 256.0, 256.0, 1, 1, 0},
    {"Brandenburg Gate, zoom 17", 52.516288, 13.377704, 17, 18024108.386622578, 11004917.717072206, 70406, 42987, 88084},
    {"emulator's route, zoom 12", 40.5471, -74.3803, 12, 307639.6737422222, 394880.384214927, 1201, 1542, 2553},
    {"emulator's route, zoom 18", 40.5471, -74.3803, 18, 19688939.11950222, 25272344.589755327, 76909, 98720, 163423},
    {"southern hemisphere, east", -33.8568, 151.2153, 15, 7717875.87584, 5033601.921266834, 30147, 19662, 13105},
    {"just west of Greenwich", 51.4778, -0.0015, 10, 131070.90773333334, 87204.18916689354, 511, 340, 683},
};

TEST(TileMath, PositionsGiveKnownPixelsTilesAndMbtilesRows)
{
    for (const TileCase& c : kCases) {
        SCOPED_TRACE(c.legend);
        const QPointF p = TileMath::pixelFromGeo(c.latitude, c.longitude, c.zoom);
        EXPECT_NEAR(p.x(), c.pixelX, 1e-4);
        EXPECT_NEAR(p.y(), c.pixelY, 1e-4);
        const QPoint t = TileMath::tileFromGeo(c.latitude, c.longitude, c.zoom);
        EXPECT_EQ(t.x(), c.tileX);
        EXPECT_EQ(t.y(), c.tileY);
        EXPECT_EQ(TileMath::mbtilesRow(t.y(), c.zoom), c.mbtilesRow);
        EXPECT_EQ(TileMath::mbtilesRow(c.mbtilesRow, c.zoom), c.tileY) << "the flip is its own inverse";
    }
}

TEST(TileMath, PixelsGoBackToTheirPositions)
{
    for (const TileCase& c : kCases) {
        SCOPED_TRACE(c.legend);
        const TileMath::Geo g = TileMath::geoFromPixel(QPointF(c.pixelX, c.pixelY), c.zoom);
        EXPECT_NEAR(g.latitude, c.latitude, 1e-9);
        EXPECT_NEAR(g.longitude, c.longitude, 1e-9);
    }
}

TEST(TileMath, PositionsBeyondTheSquareFallInTheEdgeTiles)
{
    EXPECT_EQ(TileMath::tileFromGeo(89.9, -180, 3), QPoint(0, 0));
    EXPECT_EQ(TileMath::tileFromGeo(-89.9, 180, 5), QPoint(31, 31));
    EXPECT_EQ(TileMath::tileFromGeo(-85.05112878, 179.9999, 5), QPoint(31, 31));
    const QPointF pole = TileMath::worldFromGeo(90, 0);
    EXPECT_NEAR(pole.y(), 0.0, 1e-12) << "clamped to the projection's limit, not infinite";
}

TEST(TileMath, MetresPerPixelHalvesWithEachZoomLevel)
{
    EXPECT_NEAR(TileMath::metresPerPixel(0, 0), 156543.03392804097, 1e-6);
    EXPECT_NEAR(TileMath::metresPerPixel(40.5471, 15), 3.6301465347615687, 1e-9);
    EXPECT_NEAR(TileMath::metresPerPixel(60, 10) / TileMath::metresPerPixel(60, 11), 2.0, 1e-12);
}

TEST(MapViewport, ZoomingAtAPointKeepsThatPointUnderThePointer)
{
    MapViewport v;
    v.setSize(QSizeF(800, 600));
    v.setZoom(12);
    v.setCentre(TileMath::worldFromGeo(40.5471, -74.3803));
    const QPointF anchor(700, 100);
    const QPointF before = v.worldFromScreen(anchor);
    v.zoomBy(3, anchor);
    EXPECT_EQ(v.zoom(), 15);
    const QPointF after = v.worldFromScreen(anchor);
    EXPECT_NEAR(after.x(), before.x(), 1e-12);
    EXPECT_NEAR(after.y(), before.y(), 1e-12);
    v.zoomBy(40, anchor);
    EXPECT_EQ(v.zoom(), TileMath::kMaxZoom);
    v.zoomBy(-40, anchor);
    EXPECT_EQ(v.zoom(), MapViewport::kMinZoom);
}

TEST(MapViewport, DraggingMovesTheMapWithThePointer)
{
    MapViewport v;
    v.setSize(QSizeF(640, 480));
    v.setZoom(10);
    v.setCentre(QPointF(0.3, 0.4));
    const QPointF world(0.3001, 0.4001);
    const QPointF before = v.screenFromWorld(world);
    v.panBy(QPointF(25, -40));
    const QPointF after = v.screenFromWorld(world);
    EXPECT_NEAR(after.x() - before.x(), 25, 1e-6);
    EXPECT_NEAR(after.y() - before.y(), -40, 1e-6);
}

TEST(MapViewport, FitShowsTheWholeDriveAtTheLargestZoom)
{
    MapViewport v;
    v.setSize(QSizeF(800, 600));
    const QPointF a = TileMath::worldFromGeo(40.50, -74.45);
    const QPointF b = TileMath::worldFromGeo(40.60, -74.30);
    const QRectF bounds = QRectF(a, b).normalized();
    v.fit(bounds);
    const auto inside = [&](QPointF w) {
        const QPointF s = v.screenFromWorld(w);
        return s.x() >= 0 && s.y() >= 0 && s.x() <= 800 && s.y() <= 600;
    };
    EXPECT_TRUE(inside(a) && inside(b));
    v.setZoom(v.zoom() + 1);
    EXPECT_FALSE(inside(a) && inside(b)) << "one level closer no longer fits";

    v.fit(QRectF(a, a));
    EXPECT_EQ(v.zoom(), 16) << "a lone point gets a street-level view";
    EXPECT_EQ(v.centre(), a);
}

// Bounds across the antimeridian are the narrow box over it (left edge below
// 0), not the whole world; elsewhere they are the plain union.
TEST(TileMath, WrappedBoundsAreTheNarrowestBoxRoundTheWorld)
{
    auto at = [](double lat, double lon) {
        const QPointF w = TileMath::worldFromGeo(lat, lon);
        return QRectF(w, QSizeF(0, 0));
    };
    const QPointF east = TileMath::worldFromGeo(64.80, 179.95), west = TileMath::worldFromGeo(64.85, -179.95);
    struct Case
    {
        const char* what;
        std::vector<QRectF> boxes;
        QRectF bounds;
    };
    const Case cases[] = {
        {"none", {}, QRectF()},
        {"one point", {at(40.5, -74.4)}, at(40.5, -74.4)},
        {"a drive away from ±180°", {at(40.5, -74.45), at(40.6, -74.30)},
         QRectF(TileMath::worldFromGeo(40.6, -74.45), TileMath::worldFromGeo(40.5, -74.30))},
        {"a drive across ±180°", {at(64.80, 179.95), at(64.85, -179.95)},
         QRectF(QPointF(east.x() - 1.0, west.y()), QPointF(west.x(), east.y()))},
        // Three places: the widest gap, not the one at ±180°, is left out.
        {"Fiji, Samoa and Hawaii", {at(-18, 178), at(-14, -172), at(21, -158)},
         QRectF(QPointF(TileMath::worldFromGeo(0, 178).x() - 1.0, TileMath::worldFromGeo(21, 0).y()),
                QPointF(TileMath::worldFromGeo(0, -158).x(), TileMath::worldFromGeo(-18, 0).y()))},
        {"boxes that overlap", {QRectF(0.1, 0.2, 0.3, 0.1), QRectF(0.3, 0.25, 0.5, 0.1)}, QRectF(0.1, 0.2, 0.7, 0.15)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QRectF b = TileMath::wrappedBounds(c.boxes);
        EXPECT_NEAR(b.left(), c.bounds.left(), 1e-12);
        EXPECT_NEAR(b.right(), c.bounds.right(), 1e-12);
        EXPECT_NEAR(b.top(), c.bounds.top(), 1e-12);
        EXPECT_NEAR(b.bottom(), c.bounds.bottom(), 1e-12);
    }
    EXPECT_TRUE(TileMath::onBaseMap(85.05));
    EXPECT_FALSE(TileMath::onBaseMap(85.06));
    EXPECT_FALSE(TileMath::onBaseMap(-85.06));
}

// A drive across ±180° is fitted closely, and both sides are drawn beside
// each other; the world goes round when the map is moved.
TEST(MapViewport, ADriveAcrossTheAntimeridianIsFittedCloseAndDrawnOnBothSides)
{
    MapViewport v;
    v.setSize(QSizeF(800, 600));
    const QPointF east = TileMath::worldFromGeo(64.80, 179.95), west = TileMath::worldFromGeo(64.85, -179.95);
    v.fit(TileMath::wrappedBounds({QRectF(east, QSizeF(0, 0)), QRectF(west, QSizeF(0, 0))}));
    EXPECT_GE(v.zoom(), 9) << "fitted to the drive, not to the whole world";
    for (const QPointF& w : {east, west}) {
        const QPointF s = v.screenFromWorld(w);
        EXPECT_TRUE(s.x() >= 0 && s.y() >= 0 && s.x() <= 800 && s.y() <= 600) << s.x() << ", " << s.y();
        const QPointF back = v.worldFromScreen(s);
        EXPECT_NEAR(back.x(), w.x(), 1e-9);
        EXPECT_NEAR(back.y(), w.y(), 1e-9);
    }
    EXPECT_LT(v.screenFromWorld(east).x(), v.screenFromWorld(west).x()) << "east of 180° lies west of 180° W's right";

    // Panning west over 180° comes round, not to a stop at the edge.
    v.setCentre(QPointF(0.001, 0.3));
    v.panBy(QPointF(0.01 * TileMath::worldSize(v.zoom()), 0));
    EXPECT_NEAR(v.centre().x(), 0.991, 1e-9);
}

} // namespace
