#include "coverage/CoverageGrid.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// WGS 84
constexpr double kA = 6378137.0;
constexpr double kF = 1.0 / 298.257223563;
constexpr double kE2 = kF * (2.0 - kF);
constexpr double kN = kF / (2.0 - kF); // third flattening
constexpr double kN2 = kN * kN, kN3 = kN2 * kN, kN4 = kN3 * kN;
// Meridian distance per radian of rectifying latitude.
constexpr double kRectifyingRadius = kA / (1.0 + kN) * (1.0 + kN2 / 4.0 + kN4 / 64.0);
constexpr double kQuarterMeridian = kRectifyingRadius * std::numbers::pi / 2.0;
constexpr double kDeg = std::numbers::pi / 180.0;
// Rings with fewer cells than this are let grow wider so as to close.
constexpr double kMinRingCells = 50.0;

} // namespace

double CoverageGrid::meridianDistance(double latitude)
{
    const double p = latitude * kDeg;
    const double mu = p - (1.5 * kN - 9.0 / 16.0 * kN3) * std::sin(2 * p)
                      + (15.0 / 16.0 * kN2 - 15.0 / 32.0 * kN4) * std::sin(4 * p)
                      - 35.0 / 48.0 * kN3 * std::sin(6 * p) + 315.0 / 512.0 * kN4 * std::sin(8 * p);
    return kRectifyingRadius * mu;
}

double CoverageGrid::latitudeOfMeridianDistance(double metres)
{
    const double mu = metres / kRectifyingRadius;
    const double p = mu + (1.5 * kN - 27.0 / 32.0 * kN3) * std::sin(2 * mu)
                     + (21.0 / 16.0 * kN2 - 55.0 / 32.0 * kN4) * std::sin(4 * mu)
                     + 151.0 / 96.0 * kN3 * std::sin(6 * mu) + 1097.0 / 512.0 * kN4 * std::sin(8 * mu);
    return std::clamp(p / kDeg, -90.0, 90.0);
}

double CoverageGrid::parallelLength(double latitude)
{
    const double s = std::sin(latitude * kDeg);
    return 2.0 * std::numbers::pi * kA * std::cos(latitude * kDeg) / std::sqrt(1.0 - kE2 * s * s);
}

CoverageGrid::CoverageGrid(double cellMetres) : m_cellMetres(cellMetres)
{
    const int32_t half = std::max<int32_t>(1, int32_t(std::lround(kQuarterMeridian / cellMetres)));
    m_rows = 2 * half;
    m_rowMetres = kQuarterMeridian / half;
}

int32_t CoverageGrid::rowOf(double latitude) const
{
    const double m = meridianDistance(latitude) + kQuarterMeridian;
    return std::clamp(int32_t(std::floor(m / m_rowMetres)), 0, m_rows - 1);
}

double CoverageGrid::rowSouth(int32_t row) const
{
    if (row <= 0)
        return -90.0;
    if (row >= m_rows)
        return 90.0;
    return latitudeOfMeridianDistance(row * m_rowMetres - kQuarterMeridian);
}

int32_t CoverageGrid::columns(int32_t row) const
{
    // The rows at the poles are caps: the pole is one place at every longitude.
    if (row <= 0 || row >= m_rows - 1)
        return 1;
    const double middle = latitudeOfMeridianDistance((row + 0.5) * m_rowMetres - kQuarterMeridian);
    const double ring = parallelLength(middle) / m_cellMetres;
    if (ring < kMinRingCells)
        return std::max<int32_t>(1, int32_t(std::floor(ring)));
    return int32_t(std::lround(ring));
}

CoverageGrid::Cell CoverageGrid::cellOf(double latitude, double longitude) const
{
    Cell c;
    c.row = rowOf(latitude);
    const int32_t n = columns(c.row);
    double x = (longitude + 180.0) / 360.0;
    x -= std::floor(x);
    c.column = std::min(n - 1, int32_t(x * n));
    return c;
}

CoverageGrid::Bounds CoverageGrid::bounds(Cell cell) const
{
    const int32_t n = columns(cell.row);
    Bounds b;
    b.south = rowSouth(cell.row);
    b.north = rowSouth(cell.row + 1);
    b.west = -180.0 + 360.0 * cell.column / n;
    b.east = -180.0 + 360.0 * (cell.column + 1) / n;
    return b;
}
