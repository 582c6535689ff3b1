#include "coverage/AcceptanceSource.h"

#include "coverage/AcceptanceProgress.h"
#include "coverage/CoverageCells.h"
#include "coverage/CoverageLayers.h"
#include "coverage/FileDigest.h"
#include "coverage/GdalSupport.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <numbers>
#include <string_view>

namespace {

struct ResultSet
{
    GDALDataset* ds;
    OGRLayer* layer;
    ~ResultSet()
    {
        if (layer)
            ds->ReleaseResultSet(layer);
    }
};

struct Statement
{
    sqlite3_stmt* statement = nullptr;
    ~Statement() { sqlite3_finalize(statement); }
};

std::unique_ptr<GDALDataset> openMap(const std::string& source, std::string& error)
{
    GdalSupport::init();
    std::unique_ptr<GDALDataset> ds(
        GDALDataset::Open(source.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!ds)
        error = GdalSupport::lastError("cannot open it");
    return ds;
}

double routeMetres(const OGRGeometry* g)
{
    if (!g || wkbFlatten(g->getGeometryType()) != wkbLineString)
        return 0;
    constexpr double kDeg = std::numbers::pi / 180.0;
    constexpr double kEarthRadius = 6'371'008.8;
    const auto* line = g->toLineString();
    double metres = 0;
    for (int i = 1; i < line->getNumPoints(); ++i) {
        const double la1 = line->getY(i - 1) * kDeg, la2 = line->getY(i) * kDeg;
        const double dla = la2 - la1, dlo = (line->getX(i) - line->getX(i - 1)) * kDeg;
        const double h = std::sin(dla / 2) * std::sin(dla / 2)
                         + std::cos(la1) * std::cos(la2) * std::sin(dlo / 2) * std::sin(dlo / 2);
        metres += 2 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(h)));
    }
    return metres;
}

double routeMetres(const std::vector<DriveCoverage::Point>& route)
{
    OGRLineString line;
    for (const DriveCoverage::Point& p : route)
        line.addPoint(p.longitude, p.latitude);
    return routeMetres(&line);
}

// A GeoPackage keeps a histogram as text; PostGIS as an array of counts
// from the lowest level a reading can have. Added straight into the tile's;
// a damaged one adds nothing.
bool addHistogram(const OGRFeature& f, int field, RssiHistogram& into)
{
    const OGRFieldType type = f.GetFieldDefnRef(field)->GetType();
    if (type != OFTIntegerList && type != OFTInteger64List)
        return into.addText(f.GetFieldAsString(field));
    int n = 0;
    const GIntBig* counts = f.GetFieldAsInteger64List(field, &n);
    std::array<uint64_t, RssiHistogram::kHighest - RssiHistogram::kLowest + 1> levels;
    if (n < 0 || size_t(n) > levels.size())
        return false;
    for (int i = 0; i < n; ++i) {
        if (counts[i] < 0 || uint64_t(counts[i]) > RssiHistogram::kMaxCount)
            return false;
        levels[size_t(i)] = uint64_t(counts[i]);
    }
    into.add(RssiHistogram::kLowest, std::span<const uint64_t>(levels.data(), size_t(n)));
    return true;
}

} // namespace

AcceptanceSource::AcceptanceSource(double tileMetres, const DriveFilter& filter, bool localMeans)
    : m_grid(tileMetres), m_filter(filter), m_localMeans(localMeans)
{
}

bool AcceptanceSource::isMap(const std::string& source)
{
    if (source.rfind("PG:", 0) == 0)
        return true;
    std::string ext = std::filesystem::path(source).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".gpkg";
}

bool AcceptanceSource::mapCellMetres(const std::string& source, double& metres, std::string& error)
{
    std::unique_ptr<GDALDataset> ds = openMap(source, error);
    if (!ds)
        return false;
    OGRLayer* grid = ds->GetLayerByName(CoverageLayers::kGrid);
    std::unique_ptr<OGRFeature> g(grid ? grid->GetNextFeature() : nullptr);
    if (!g || std::string(g->GetFieldAsString("grid")) != CoverageLayers::kGridName) {
        error = "not a coverage map of this program's grid";
        return false;
    }
    metres = g->GetFieldAsDouble("cell_metres");
    return true;
}

bool AcceptanceSource::addMap(const std::string& source, std::string& error)
{
    double cellMetres = 0;
    if (!mapCellMetres(source, cellMetres, error))
        return false;
    // Within a hair: a map's size went through a text field.
    if (m_grid.cellMetres() < cellMetres * (1 - 1e-9)) {
        char text[160];
        std::snprintf(text, sizeof text, "its cells are %g m: tiles of %g m would split them; choose --tile %g or more",
                      cellMetres, m_grid.cellMetres(), cellMetres);
        error = text;
        return false;
    }
    std::unique_ptr<GDALDataset> ds = openMap(source, error);
    if (!ds)
        return false;
    const CoverageGrid mapGrid(cellMetres);
    const bool same = std::fabs(cellMetres - m_grid.cellMetres()) <= cellMetres * 1e-9;

    // Straight from SQL: the polygons are not needed, and reading 1 M rows
    // through features and geometries costs several times as much.
    std::string sql = "SELECT row, col, receiver, frequency_mhz, histogram FROM ";
    sql += CoverageLayers::kCells;
    std::string where;
    char clause[128];
    if (m_filter.receiver) {
        std::snprintf(clause, sizeof clause, "receiver = %d", *m_filter.receiver + 1);
        where = clause;
    }
    if (m_filter.frequencyMHz) {
        std::snprintf(clause, sizeof clause, "frequency_mhz BETWEEN %.9f AND %.9f",
                      *m_filter.frequencyMHz - DriveFilter::kFrequencyToleranceMHz,
                      *m_filter.frequencyMHz + DriveFilter::kFrequencyToleranceMHz);
        where += (where.empty() ? "" : " AND ") + std::string(clause);
    }
    if (!where.empty())
        sql += " WHERE " + where;
    // Rows come in runs of one map row: the tile row and both rows' column
    // counts are worked out once per run, not per cell; and in runs of one
    // channel, looked up once per run.
    struct RowFit
    {
        int32_t mapRow = -1;
        int32_t tileRow = 0;
        int32_t mapColumns = 1, tileColumns = 1;
    } fit;
    AcceptanceInput::Channel* channel = nullptr;
    const auto tileOf = [&](CoverageGrid::Cell cell, int receiver, double frequencyMHz) -> RssiHistogram& {
        int64_t tile = CoverageGrid::key(cell);
        if (!same) {
            if (cell.row != fit.mapRow) {
                const CoverageGrid::Bounds b = mapGrid.bounds({cell.row, 0});
                const CoverageGrid::Cell first = m_grid.cellOf((b.south + b.north) / 2, 0);
                fit = {cell.row, first.row, mapGrid.columns(cell.row), m_grid.columns(first.row)};
            }
            // As CoverageGrid::cellOf places the centre's longitude.
            const double x = (cell.column + 0.5) / fit.mapColumns;
            tile = CoverageGrid::key({fit.tileRow, std::min(fit.tileColumns - 1, int32_t(x * fit.tileColumns))});
        }
        const int64_t frequency = CoverageCells::frequencyKey(frequencyMHz);
        if (!channel || channel->receiver != receiver || channel->frequency != frequency)
            channel = &m_input.channel(receiver, frequency);
        return channel->tiles[tile].histogram;
    };
    const auto damaged = [&error](CoverageGrid::Cell cell) {
        error = "cell " + std::to_string(cell.row) + "/" + std::to_string(cell.column) + " has a damaged histogram";
        return false;
    };

    // A GeoPackage's rows straight from SQLite, on GDAL's own connection: a
    // feature made and freed per row cost as much as all the rest.
    if (auto* db = static_cast<sqlite3*>(ds->GetInternalHandle("SQLITE_HANDLE"))) {
        Statement cells;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &cells.statement, nullptr) != SQLITE_OK) {
            error = std::string("its cells cannot be read: not a coverage map (") + sqlite3_errmsg(db) + ")";
            return false;
        }
        sqlite3_stmt* const q = cells.statement;
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(q)) == SQLITE_ROW) {
            const CoverageGrid::Cell cell{sqlite3_column_int(q, 0), sqlite3_column_int(q, 1)};
            const int receiver = sqlite3_column_int(q, 2);
            if (receiver != 1 && receiver != 2)
                continue;
            const double frequencyMHz = sqlite3_column_double(q, 3);
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(q, 4));
            const std::string_view histogram(text ? text : "", text ? size_t(sqlite3_column_bytes(q, 4)) : 0);
            if (!tileOf(cell, receiver, frequencyMHz).addText(histogram))
                return damaged(cell);
            ++m_mapCells;
        }
        // A read that breaks off is no map read whole.
        if (step != SQLITE_DONE) {
            error = std::string("its cells cannot be read: ") + sqlite3_errmsg(db);
            return false;
        }
    } else {
        ResultSet cells{ds.get(), ds->ExecuteSQL(sql.c_str(), nullptr, nullptr)};
        if (!cells.layer) {
            error = GdalSupport::lastError("its cells cannot be read: not a coverage map");
            return false;
        }
        cells.layer->ResetReading();
        for (std::unique_ptr<OGRFeature> f(cells.layer->GetNextFeature()); f; f.reset(cells.layer->GetNextFeature())) {
            const CoverageGrid::Cell cell{f->GetFieldAsInteger(0), f->GetFieldAsInteger(1)};
            const int receiver = f->GetFieldAsInteger(2);
            if (receiver != 1 && receiver != 2)
                continue;
            if (!addHistogram(*f, 4, tileOf(cell, receiver, f->GetFieldAsDouble(3))))
                return damaged(cell);
            ++m_mapCells;
        }
    }

    std::map<std::string, double> routes;
    if (OGRLayer* layer = ds->GetLayerByName(CoverageLayers::kRoutes)) {
        layer->ResetReading();
        for (std::unique_ptr<OGRFeature> f(layer->GetNextFeature()); f; f.reset(layer->GetNextFeature()))
            routes[f->GetFieldAsString("sha256")] += routeMetres(f->GetGeometryRef());
    }
    if (OGRLayer* layer = ds->GetLayerByName(CoverageLayers::kDrives)) {
        const OGRFeatureDefn* d = layer->GetLayerDefn();
        const int iFirst = d->GetFieldIndex("first_time"), iLast = d->GetFieldIndex("last_time");
        layer->ResetReading();
        for (std::unique_ptr<OGRFeature> f(layer->GetNextFeature()); f; f.reset(layer->GetNextFeature())) {
            AcceptanceReport::Drive drive;
            drive.fileName = f->GetFieldAsString("file_name");
            drive.sha256 = f->GetFieldAsString("sha256");
            drive.serialNumber = f->GetFieldAsString("serial_number");
            drive.firstMs = iFirst >= 0 ? GdalSupport::time(*f, iFirst) : 0;
            drive.lastMs = iLast >= 0 ? GdalSupport::time(*f, iLast) : 0;
            drive.samples = uint64_t(f->GetFieldAsInteger64("samples_binned"));
            drive.distanceMetres = routes[drive.sha256];
            m_drives.push_back(drive);
        }
    }
    return true;
}

bool AcceptanceSource::addLog(const std::string& path, DriveSummary& summary, std::string& error)
{
    AcceptanceReport::Drive drive;
    drive.sha256 = FileDigest::sha256(path, error);
    if (drive.sha256.empty())
        return false;
    AcceptanceProgress progress(m_grid.cellMetres(), m_localMeans);
    DriveReader reader;
    reader.setFilter(m_filter);
    if (m_progress)
        reader.setProgress(m_progress);
    summary = reader.read(path, progress);
    if (summary.status == DriveSummary::Status::Unreadable || summary.status == DriveSummary::Status::Cancelled) {
        error = summary.error.empty() ? std::string("cannot be read") : summary.error;
        return false;
    }
    progress.finish();
    m_input.add(progress.input());
    const DriveCoverage& d = progress.drive();
    drive.fileName = std::filesystem::path(path).filename().string();
    drive.serialNumber = summary.serialNumber;
    drive.firstMs = d.firstMs;
    drive.lastMs = d.lastMs;
    drive.samples = d.samplesBinned;
    drive.distanceMetres = routeMetres(d.route);
    m_drives.push_back(drive);
    return true;
}
