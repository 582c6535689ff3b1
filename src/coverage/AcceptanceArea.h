#pragma once

#include "coverage/CoverageGrid.h"

#include <string>
#include <utility>
#include <vector>

// The service area of an acceptance test: polygons, with their holes, from
// any vector file GDAL reads, in WGS 84 whatever the file's coordinate system.
//
// A point on a polygon's edge (its exterior or a hole's) counts as inside:
// a tile whose centre lies exactly on the boundary belongs to the area.
class AcceptanceArea
{
public:
    struct Point
    {
        double latitude = 0;  // degrees
        double longitude = 0; // degrees
    };
    using Ring = std::vector<Point>; // closed: the last point is not repeated
    struct Polygon
    {
        Ring exterior;
        std::vector<Ring> holes;
    };

    // False with one line saying why: unreadable, no polygon in it, an
    // unknown coordinate system.
    bool read(const std::string& path, std::string& error);
    // For tests and callers that already hold the geometry.
    void setPolygons(std::vector<Polygon> polygons);

    const std::vector<Polygon>& polygons() const { return m_polygons; }
    bool empty() const { return m_polygons.empty(); }
    CoverageGrid::Bounds bounds() const { return m_bounds; }
    bool contains(double latitude, double longitude) const;
    // The stretches of a parallel inside the area, west to east, ends
    // included and overlaps merged: a whole row of tiles is placed with one
    // pass over the edges instead of one per tile.
    using Span = std::pair<double, double>; // longitudes, degrees
    std::vector<Span> spans(double latitude) const;

private:
    std::vector<Polygon> m_polygons;
    std::vector<CoverageGrid::Bounds> m_polygonBounds;
    CoverageGrid::Bounds m_bounds;
};
