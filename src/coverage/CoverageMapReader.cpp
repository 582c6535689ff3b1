#include "coverage/CoverageMapReader.h"

#include "coverage/CoverageLayers.h"
#include "coverage/GdalSupport.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <memory>

namespace {
// Cells between two progress reports: often enough for a bar, rarely enough
// to cost nothing beside GDAL's own work per row.
constexpr uint64_t kProgressEvery = 4096;

// PostgreSQL hands timestamptz over in the session's time zone, with its
// offset, which GDAL keeps as a flag (100 is UTC, each step 15 minutes); a
// GeoPackage stores UTC.
int64_t utcMs(const OGRFeature& f, int field)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, tz = 0;
    float s = 0;
    if (!const_cast<OGRFeature&>(f).GetFieldAsDateTime(field, &y, &mo, &d, &h, &mi, &s, &tz))
        return 0;
    const int64_t local = GdalSupport::time(f, field);
    return tz > 1 ? local - int64_t(tz - 100) * 15 * 60 * 1000 : local;
}

// GDAL's reason on one line: libpq's comes with hints on lines of their own.
std::string oneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    std::string out;
    for (char c : text)
        if (c != ' ' || (!out.empty() && out.back() != ' '))
            out += c;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}
}

bool CoverageMapReader::read(const std::string& source, std::vector<Cell>& cells, std::string& error,
                             const Progress& progress)
{
    GdalSupport::init();
    cells.clear();
    std::unique_ptr<GDALDataset> ds(
        GDALDataset::Open(source.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!ds) {
        error = oneLine(GdalSupport::lastError("cannot open it"));
        return false;
    }
    OGRLayer* layer = ds->GetLayerByName(CoverageLayers::kCells);
    if (!layer) {
        error = "it holds no cells layer: not a coverage map";
        return false;
    }
    OGRFeatureDefn* d = layer->GetLayerDefn();
    const int iRow = d->GetFieldIndex("row"), iCol = d->GetFieldIndex("col"), iRx = d->GetFieldIndex("receiver");
    const int iFreq = d->GetFieldIndex("frequency_mhz"), iCount = d->GetFieldIndex("count");
    const int iMin = d->GetFieldIndex("min_dbm"), iMax = d->GetFieldIndex("max_dbm");
    const int iP10 = d->GetFieldIndex("p10_dbm"), iMedian = d->GetFieldIndex("median_dbm");
    const int iP90 = d->GetFieldIndex("p90_dbm"), iMean = d->GetFieldIndex("mean_dbm");
    const int iDrives = d->GetFieldIndex("drives");
    const int iFirst = d->GetFieldIndex("first_time"), iLast = d->GetFieldIndex("last_time");
    if (std::min({iRow, iCol, iRx, iFreq, iCount, iMin, iMax, iP10, iMedian, iP90, iMean, iDrives}) < 0) {
        error = "its cells layer lacks fields of a coverage map";
        return false;
    }
    // A GeoPackage keeps its count; a source that would have to count says nothing.
    const GIntBig counted = layer->GetFeatureCount(FALSE);
    const uint64_t total = counted > 0 ? uint64_t(counted) : 0;
    auto stopped = [&] {
        if (!progress || progress(cells.size(), total))
            return false;
        cells.clear();
        error = "stopped";
        return true;
    };
    if (stopped())
        return false;
    layer->ResetReading();
    for (std::unique_ptr<OGRFeature> f(layer->GetNextFeature()); f; f.reset(layer->GetNextFeature())) {
        Cell c;
        c.cellKey = CoverageGrid::key({f->GetFieldAsInteger(iRow), f->GetFieldAsInteger(iCol)});
        c.receiver = f->GetFieldAsInteger(iRx);
        c.frequencyMHz = f->GetFieldAsDouble(iFreq);
        c.figures.count = uint64_t(f->GetFieldAsInteger64(iCount));
        c.figures.minimum = f->GetFieldAsInteger(iMin);
        c.figures.maximum = f->GetFieldAsInteger(iMax);
        c.figures.p10 = f->GetFieldAsInteger(iP10);
        c.figures.median = f->GetFieldAsInteger(iMedian);
        c.figures.p90 = f->GetFieldAsInteger(iP90);
        c.figures.mean = f->GetFieldAsDouble(iMean);
        c.drives = f->GetFieldAsInteger(iDrives);
        if (iFirst >= 0 && iLast >= 0 && f->IsFieldSetAndNotNull(iFirst) && f->IsFieldSetAndNotNull(iLast)) {
            c.firstMs = utcMs(*f, iFirst);
            c.lastMs = utcMs(*f, iLast);
        }
        // The polygon as stored: the viewer needs no grid of its own.
        OGREnvelope e;
        if (const OGRGeometry* g = f->GetGeometryRef())
            g->getEnvelope(&e);
        c.bounds = {e.MinY, e.MaxY, e.MinX, e.MaxX};
        cells.push_back(c);
        if (cells.size() % kProgressEvery == 0 && stopped())
            return false;
    }
    return !stopped();
}
