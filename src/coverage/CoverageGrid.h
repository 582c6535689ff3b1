#pragma once

#include <cstdint>

// Squares of a fixed size on the WGS 84 ellipsoid, the same for every drive.
//
// Rows are bands of equal length along the meridian: the quarter meridian is
// cut into a whole number of rows, so the equator and both poles lie on row
// edges and a row's height differs from the asked size by under 0.01 %. Each
// row is cut into as many equal columns as its middle parallel holds whole
// cells, starting at 180° west, so a cell is as wide as it is high to within
// half a column at its middle; rows that hold fewer than 50 cells (within
// some 8 cells of a pole) get wider cells, and the row at each pole is one
// cap cell. Columns wrap at ±180°, so the antimeridian is a column edge like
// any other.
//
// Near a pole a cell's south and north edges differ in length by about one
// part in its rows from the pole, on top of the rounding to whole columns:
// its width along either edge is the asked size to within 1 % from the
// kPoleZoneRows-th row from each pole on (inside, up to 1.1 %). The grid is
// kept as it is, as every map's cells are numbered by it.
//
// Unlike UTM, there are no zones whose edges cut cells or change their size,
// and the poles need no second projection; unlike squares in Web Mercator,
// the size on the ground does not shrink with latitude.
class CoverageGrid
{
public:
    static constexpr int kMinMetres = 10;
    static constexpr int kMaxMetres = 1000;
    // Rows nearest each pole, the cap included, where a cell may be more
    // than 1 % off the asked size, whatever the size.
    static constexpr int kPoleZoneRows = 55;

    struct Cell
    {
        int32_t row = 0;    // 0 at the south pole
        int32_t column = 0; // 0 at 180° west
        bool operator==(const Cell&) const = default;
    };

    struct Bounds
    {
        double south = 0, north = 0, west = 0, east = 0; // degrees
    };

    explicit CoverageGrid(double cellMetres);

    double cellMetres() const { return m_cellMetres; }
    int32_t rows() const { return m_rows; }
    int32_t columns(int32_t row) const;
    Cell cellOf(double latitude, double longitude) const;
    Bounds bounds(Cell cell) const;
    // The row holding a latitude, and the latitude of a row's edges.
    int32_t rowOf(double latitude) const;
    double rowSouth(int32_t row) const; // degrees
    // One number per cell, the same for the same cell in every run.
    static int64_t key(Cell cell) { return (int64_t(cell.row) << 32) | uint32_t(cell.column); }
    static Cell cellOfKey(int64_t key) { return {int32_t(key >> 32), int32_t(uint32_t(key))}; }

    // Length along the meridian from the equator, metres, and back.
    static double meridianDistance(double latitude);
    static double latitudeOfMeridianDistance(double metres);
    // Length of a whole parallel, metres.
    static double parallelLength(double latitude);

private:
    double m_cellMetres;
    int32_t m_rows;     // over the whole meridian, pole to pole
    double m_rowMetres; // height of each row along the meridian
};
