#include "coverage/CoverageGrid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>
#include <numbers>

namespace {

constexpr double kA = 6378137.0;
constexpr double kE2 = (1.0 / 298.257223563) * (2.0 - 1.0 / 298.257223563);
constexpr double kDeg = std::numbers::pi / 180.0;

// Meridian arc between two latitudes by Simpson's rule on the radius of
// curvature: no series, so it checks the grid's own.
double meridianArc(double south, double north)
{
    const int n = 2000;
    const double h = (north - south) * kDeg / n;
    auto radius = [](double p) { return kA * (1 - kE2) / std::pow(1 - kE2 * std::sin(p) * std::sin(p), 1.5); };
    double sum = radius(south * kDeg) + radius(north * kDeg);
    for (int i = 1; i < n; ++i)
        sum += radius(south * kDeg + i * h) * (i % 2 ? 4 : 2);
    return sum * h / 3;
}

double parallelArc(double latitude, double degrees)
{
    const double s = std::sin(latitude * kDeg);
    return kA * std::cos(latitude * kDeg) / std::sqrt(1 - kE2 * s * s) * degrees * kDeg;
}

struct SizeCase
{
    double metres;
    double latitude;
    double longitude;
    friend void PrintTo(const SizeCase& c, std::ostream* os)
    {
        *os << c.metres << " m at " << c.latitude << ", " << c.longitude;
    }
};

class CellSize : public testing::TestWithParam<SizeCase>
{
};

// Within 1 % of the size in both directions, measured on the ellipsoid; the
// cell holds the point it was asked for.
TEST_P(CellSize, IsTheAskedSizeOnTheGround)
{
    const SizeCase c = GetParam();
    const CoverageGrid grid(c.metres);
    const CoverageGrid::Cell cell = grid.cellOf(c.latitude, c.longitude);
    const CoverageGrid::Bounds b = grid.bounds(cell);
    EXPECT_LE(b.south, c.latitude);
    EXPECT_GE(b.north, c.latitude);
    EXPECT_LE(b.west, c.longitude);
    EXPECT_GE(b.east, c.longitude);
    EXPECT_NEAR(meridianArc(b.south, b.north), c.metres, c.metres * 0.01);
    EXPECT_NEAR(parallelArc((b.south + b.north) / 2, b.east - b.west), c.metres, c.metres * 0.01);
}

INSTANTIATE_TEST_SUITE_P(AnywhereOnEarth, CellSize,
                         testing::Values(SizeCase{50, 0.0001, 0.0001}, SizeCase{50, 45.25, 7.6},
                                         SizeCase{50, -33.9, 151.2}, SizeCase{10, 60.17, 24.94},
                                         SizeCase{1000, 69.65, 18.95}, SizeCase{1000, 78.22, 15.65},
                                         SizeCase{50, 85.0, -40.0}, SizeCase{10, 89.9, 100.0},
                                         SizeCase{50, -89.9, 0.5}, SizeCase{1000, -77.85, 166.67},
                                         SizeCase{50, 64.8, 179.9999}, SizeCase{50, 64.8, -179.9999},
                                         SizeCase{137, 12.3456, -98.7654}));

// The 1 % holds for a cell's whole width, along its south and its north
// edge, in every row outside the zone by the poles: all rows near them, and
// rows spread over the rest, for sizes across the allowed range.
TEST(CoverageGrid, OutsideThePoleZoneEveryEdgeIsWithinOnePercent)
{
    for (double metres : {10.0, 12.345, 50.0, 137.0, 500.0, 999.9, 1000.0}) {
        const CoverageGrid grid(metres);
        const int32_t half = grid.rows() / 2;
        std::vector<int32_t> fromPole;
        for (int32_t k = CoverageGrid::kPoleZoneRows; k < CoverageGrid::kPoleZoneRows + 3000 && k < half; ++k)
            fromPole.push_back(k);
        for (int32_t k = CoverageGrid::kPoleZoneRows + 3000; k < half; k += 7919)
            fromPole.push_back(k);
        double worst = 0;
        for (int32_t k : fromPole) {
            for (int32_t row : {k, grid.rows() - 1 - k}) {
                const double south = grid.rowSouth(row), north = grid.rowSouth(row + 1);
                const double width = 360.0 / grid.columns(row);
                for (double edge : {south, north})
                    worst = std::max(worst, std::abs(parallelArc(edge, width) / metres - 1));
                ASSERT_NEAR(meridianArc(south, north), metres, metres * 0.01) << metres << " m, row " << row;
            }
        }
        EXPECT_LE(worst, 0.01) << metres << " m";
    }
}

// The zone is no wider than it has to be: in its outermost rows a cell's
// edge is more than 1 % off, as the manual says it may be.
TEST(CoverageGrid, ThePoleZoneIsWhereTheOnePercentFails)
{
    const CoverageGrid grid(1000);
    double worst = 0;
    for (int32_t k = CoverageGrid::kPoleZoneRows - 5; k < CoverageGrid::kPoleZoneRows; ++k) {
        const double south = grid.rowSouth(grid.rows() - 1 - k), north = grid.rowSouth(grid.rows() - k);
        const double width = 360.0 / grid.columns(grid.rows() - 1 - k);
        for (double edge : {south, north})
            worst = std::max(worst, std::abs(parallelArc(edge, width) / 1000 - 1));
    }
    EXPECT_GT(worst, 0.01);
}

TEST(CoverageGrid, RowsNearAPoleWidenButStillCloseTheRing)
{
    const CoverageGrid grid(1000);
    for (double latitude : {89.95, 89.99, 89.999}) {
        const CoverageGrid::Cell cell = grid.cellOf(latitude, 10);
        const CoverageGrid::Bounds b = grid.bounds(cell);
        EXPECT_GE(parallelArc((b.south + b.north) / 2, b.east - b.west), 1000 * 0.99) << latitude;
        EXPECT_NEAR(meridianArc(b.south, b.north), 1000, 10) << latitude;
    }
}

TEST(CoverageGrid, ThePoleIsOneCellAtEveryLongitude)
{
    const CoverageGrid grid(50);
    for (double pole : {90.0, -90.0})
        for (double longitude : {-180.0, -90.0, 0.0, 45.0, 179.9})
            EXPECT_EQ(grid.cellOf(pole, longitude), grid.cellOf(pole, 0)) << pole << " " << longitude;
    EXPECT_EQ(grid.cellOf(90, 0).row, grid.rows() - 1);
    EXPECT_EQ(grid.cellOf(-90, 0).row, 0);
}

TEST(CoverageGrid, TheAntimeridianIsAColumnEdgeAndLongitudesWrap)
{
    const CoverageGrid grid(50);
    const double lat = -16.8; // Fiji
    const CoverageGrid::Cell east = grid.cellOf(lat, 179.99999);
    const CoverageGrid::Cell west = grid.cellOf(lat, -179.99999);
    EXPECT_EQ(east.column, grid.columns(east.row) - 1);
    EXPECT_EQ(west.column, 0);
    EXPECT_EQ(grid.cellOf(lat, 180.0), grid.cellOf(lat, -180.0));
    EXPECT_EQ(grid.cellOf(lat, 190.0), grid.cellOf(lat, -170.0));
    EXPECT_DOUBLE_EQ(grid.bounds(east).east, 180.0);
    EXPECT_DOUBLE_EQ(grid.bounds(west).west, -180.0);
}

// Rows tile the meridian without gaps or overlaps, with the equator on an edge.
TEST(CoverageGrid, RowsMeetEdgeToEdge)
{
    const CoverageGrid grid(50);
    EXPECT_DOUBLE_EQ(grid.rowSouth(grid.rows() / 2), 0.0);
    for (int32_t row : {1, 1000, grid.rows() / 2 - 1, grid.rows() / 2, grid.rows() - 2}) {
        const double edge = grid.rowSouth(row + 1);
        EXPECT_EQ(grid.rowOf(edge - 1e-7), row);
        EXPECT_EQ(grid.rowOf(edge + 1e-7), row + 1);
    }
}

TEST(CoverageGrid, KeysRoundTrip)
{
    for (CoverageGrid::Cell c : {CoverageGrid::Cell{0, 0}, CoverageGrid::Cell{400000, 801234}, CoverageGrid::Cell{7, 0}})
        EXPECT_EQ(CoverageGrid::cellOfKey(CoverageGrid::key(c)), c);
}

} // namespace
