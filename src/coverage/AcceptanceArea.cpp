#include "coverage/AcceptanceArea.h"

#include "coverage/GdalSupport.h"

#include <gdal_priv.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace {

AcceptanceArea::Ring ringOf(const OGRLinearRing* ring)
{
    AcceptanceArea::Ring out;
    if (!ring)
        return out;
    const int n = ring->getNumPoints();
    out.reserve(size_t(std::max(n, 0)));
    for (int i = 0; i < n; ++i)
        out.push_back({ring->getY(i), ring->getX(i)});
    // Rings are stored closed; ours are not.
    if (out.size() > 1 && out.front().latitude == out.back().latitude
        && out.front().longitude == out.back().longitude)
        out.pop_back();
    return out;
}

void collect(const OGRGeometry* g, std::vector<AcceptanceArea::Polygon>& out)
{
    if (!g)
        return;
    switch (wkbFlatten(g->getGeometryType())) {
    case wkbPolygon: {
        const auto* p = g->toPolygon();
        AcceptanceArea::Polygon polygon;
        polygon.exterior = ringOf(p->getExteriorRing());
        for (int i = 0; i < p->getNumInteriorRings(); ++i)
            if (AcceptanceArea::Ring hole = ringOf(p->getInteriorRing(i)); hole.size() >= 3)
                polygon.holes.push_back(std::move(hole));
        if (polygon.exterior.size() >= 3)
            out.push_back(std::move(polygon));
        break;
    }
    case wkbMultiPolygon:
    case wkbGeometryCollection:
    case wkbMultiSurface:
        for (const OGRGeometry* part : *g->toGeometryCollection())
            collect(part, out);
        break;
    case wkbCurvePolygon: {
        std::unique_ptr<OGRGeometry> linear(g->getLinearGeometry());
        collect(linear.get(), out);
        break;
    }
    default: // points and lines bound nothing
        break;
    }
}

// Where the ring's edges cross the parallel at latitude (even-odd, each
// edge taken half-open so that a vertex on it counts once), and the edges
// lying along it, which belong to the area as its boundary does.
void crossings(const AcceptanceArea::Ring& ring, double latitude, std::vector<double>& xs,
               std::vector<AcceptanceArea::Span>& along)
{
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        const AcceptanceArea::Point& a = ring[i];
        const AcceptanceArea::Point& b = ring[j];
        if (a.latitude == latitude && b.latitude == latitude) {
            along.push_back({std::min(a.longitude, b.longitude), std::max(a.longitude, b.longitude)});
            continue;
        }
        if ((a.latitude > latitude) != (b.latitude > latitude))
            xs.push_back(a.longitude + (latitude - a.latitude) * (b.longitude - a.longitude) / (b.latitude - a.latitude));
    }
}

CoverageGrid::Bounds boundsOf(const AcceptanceArea::Ring& ring)
{
    CoverageGrid::Bounds b{std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                           std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()};
    for (const AcceptanceArea::Point& p : ring) {
        b.south = std::min(b.south, p.latitude);
        b.north = std::max(b.north, p.latitude);
        b.west = std::min(b.west, p.longitude);
        b.east = std::max(b.east, p.longitude);
    }
    return b;
}

} // namespace

bool AcceptanceArea::read(const std::string& path, std::string& error)
{
    GdalSupport::init();
    std::unique_ptr<GDALDataset> ds(
        GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!ds) {
        error = GdalSupport::lastError("cannot open it as a vector file");
        return false;
    }
    std::vector<Polygon> polygons;
    for (OGRLayer* layer : ds->GetLayers()) {
        const OGRSpatialReference* from = layer->GetSpatialRef();
        std::unique_ptr<OGRCoordinateTransformation> transform;
        if (from && !from->IsSame(GdalSupport::wgs84())) {
            OGRSpatialReference source(*from);
            source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
            transform.reset(OGRCreateCoordinateTransformation(&source, GdalSupport::wgs84()));
            if (!transform) {
                error = GdalSupport::lastError("its coordinate system cannot be turned into WGS 84");
                return false;
            }
        }
        layer->ResetReading();
        for (std::unique_ptr<OGRFeature> f(layer->GetNextFeature()); f; f.reset(layer->GetNextFeature())) {
            OGRGeometry* g = f->GetGeometryRef();
            if (!g)
                continue;
            if (transform && g->transform(transform.get()) != OGRERR_NONE) {
                error = GdalSupport::lastError("a shape cannot be turned into WGS 84");
                return false;
            }
            collect(g, polygons);
        }
    }
    if (polygons.empty()) {
        error = "it holds no polygon: an area is bounded by polygons, not points or lines";
        return false;
    }
    setPolygons(std::move(polygons));
    return true;
}

void AcceptanceArea::setPolygons(std::vector<Polygon> polygons)
{
    m_polygons = std::move(polygons);
    m_polygonBounds.clear();
    m_bounds = {};
    for (size_t i = 0; i < m_polygons.size(); ++i) {
        const CoverageGrid::Bounds b = boundsOf(m_polygons[i].exterior);
        m_polygonBounds.push_back(b);
        if (i == 0)
            m_bounds = b;
        m_bounds.south = std::min(m_bounds.south, b.south);
        m_bounds.north = std::max(m_bounds.north, b.north);
        m_bounds.west = std::min(m_bounds.west, b.west);
        m_bounds.east = std::max(m_bounds.east, b.east);
    }
}

bool AcceptanceArea::contains(double latitude, double longitude) const
{
    for (const Span& s : spans(latitude))
        if (longitude >= s.first && longitude <= s.second)
            return true;
    return false;
}

std::vector<AcceptanceArea::Span> AcceptanceArea::spans(double latitude) const
{
    std::vector<Span> out;
    std::vector<double> xs;
    for (size_t i = 0; i < m_polygons.size(); ++i) {
        const CoverageGrid::Bounds& b = m_polygonBounds[i];
        if (latitude < b.south || latitude > b.north)
            continue;
        // Within one polygon, holes lie inside the exterior: even-odd over
        // all its rings is the exterior less the holes.
        xs.clear();
        crossings(m_polygons[i].exterior, latitude, xs, out);
        for (const Ring& hole : m_polygons[i].holes)
            crossings(hole, latitude, xs, out);
        std::sort(xs.begin(), xs.end());
        for (size_t k = 0; k + 1 < xs.size(); k += 2)
            out.push_back({xs[k], xs[k + 1]});
    }
    std::sort(out.begin(), out.end());
    std::vector<Span> merged;
    for (const Span& s : out) {
        if (!merged.empty() && s.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, s.second);
        else
            merged.push_back(s);
    }
    return merged;
}
