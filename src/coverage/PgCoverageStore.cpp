#include "coverage/PgCoverageStore.h"

#include "coverage/CoverageLayers.h"
#include "coverage/CoverageStyle.h"
#include "coverage/GdalSupport.h"
#include "drive/UtcTime.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <tuple>

namespace {

// Taken by every setup so that two first uploads do not both make the tables.
constexpr const char* kSetupLock = "SELECT pg_advisory_xact_lock(7735119)";

std::string number(double v)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string timeLiteral(int64_t ms)
{
    char text[40];
    text[0] = '\'';
    const int n = UtcTime::iso8601(ms, text + 1);
    text[n + 1] = '\'';
    return std::string(text, size_t(n) + 2);
}

} // namespace

PgCoverageStore::PgCoverageStore(std::string connection, Settings settings)
    : m_connection(std::move(connection)), m_settings(settings), m_grid(settings.cellMetres)
{
    GdalSupport::init();
}

PgCoverageStore::~PgCoverageStore() = default;

std::string PgCoverageStore::schema(const Settings& s)
{
    // Histograms are bigint[] from -128 dBm at position 1. The figures
    // follow the same rules as RssiHistogram: nearest rank, mean of dBm.
    return std::string(
               "CREATE EXTENSION IF NOT EXISTS postgis;\n"
               "CREATE TABLE IF NOT EXISTS coverage_grid (grid text PRIMARY KEY, cell_metres double precision NOT NULL);\n"
               "CREATE TABLE IF NOT EXISTS drives (fid bigserial PRIMARY KEY, file_name text, sha256 text NOT NULL UNIQUE,"
               " serial_number text, first_time timestamptz, last_time timestamptz, fixes_used bigint,"
               " samples_placed bigint, samples_binned bigint);\n"
               "CREATE TABLE IF NOT EXISTS routes (fid bigserial PRIMARY KEY, file_name text,"
               " sha256 text NOT NULL REFERENCES drives (sha256) ON DELETE CASCADE, geom geometry(LineString, 4326));\n"
               "CREATE INDEX IF NOT EXISTS routes_geom_idx ON routes USING gist (geom);\n"
               "CREATE TABLE IF NOT EXISTS cells (fid bigserial PRIMARY KEY, row integer NOT NULL, col integer NOT NULL,"
               " receiver smallint NOT NULL, frequency_mhz double precision NOT NULL, count bigint, min_dbm integer,"
               " max_dbm integer, p10_dbm integer, median_dbm integer, p90_dbm integer, mean_dbm double precision,"
               " drives integer, first_time timestamptz, last_time timestamptz, histogram bigint[] NOT NULL,"
               " geom geometry(Polygon, 4326), UNIQUE (row, col, receiver, frequency_mhz));\n"
               "CREATE INDEX IF NOT EXISTS cells_geom_idx ON cells USING gist (geom);\n"
               "CREATE OR REPLACE FUNCTION tavrix_hist_add(a bigint[], b bigint[]) RETURNS bigint[]"
               " LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$"
               " SELECT array_agg(coalesce(a[i], 0) + coalesce(b[i], 0) ORDER BY i)"
               " FROM generate_series(1, greatest(coalesce(cardinality(a), 0), coalesce(cardinality(b), 0))) AS i $$;\n"
               "CREATE OR REPLACE FUNCTION tavrix_hist_figures(h bigint[], OUT n bigint, OUT lo integer, OUT hi integer,"
               " OUT p10 integer, OUT p50 integer, OUT p90 integer, OUT mean double precision)"
               " LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE AS $$\n"
               "DECLARE i integer; c bigint; seen bigint := 0; total bigint := 0;"
               " r10 bigint; r50 bigint; r90 bigint;\n"
               "BEGIN\n"
               "  n := 0;\n"
               "  FOR i IN 1 .. coalesce(cardinality(h), 0) LOOP\n"
               "    c := h[i];\n"
               "    IF c > 0 THEN n := n + c; total := total + c * (i - 129);"
               " IF lo IS NULL THEN lo := i - 129; END IF; hi := i - 129; END IF;\n"
               "  END LOOP;\n"
               "  IF n = 0 THEN RETURN; END IF;\n"
               "  mean := total::double precision / n::double precision;\n"
               "  r10 := greatest(1, (10 * n + 99) / 100); r50 := greatest(1, (50 * n + 99) / 100);"
               " r90 := greatest(1, (90 * n + 99) / 100);\n"
               "  FOR i IN 1 .. cardinality(h) LOOP\n"
               "    seen := seen + h[i];\n"
               "    IF p10 IS NULL AND seen >= r10 THEN p10 := i - 129; END IF;\n"
               "    IF p50 IS NULL AND seen >= r50 THEN p50 := i - 129; END IF;\n"
               "    IF p90 IS NULL AND seen >= r90 THEN p90 := i - 129; EXIT; END IF;\n"
               "  END LOOP;\n"
               "END $$;\n")
           + CoverageStyle::pgTable() + ";\n" + CoverageStyle::pgRow("public", s.rangeMin, s.rangeMax) + ";\n"
           + "INSERT INTO coverage_grid VALUES ('" + CoverageLayers::kGridName + "', " + number(s.cellMetres)
           + ") ON CONFLICT DO NOTHING;\n";
}

bool PgCoverageStore::query(const std::string& sql, std::string& firstValue, std::string& error)
{
    CPLErrorReset();
    firstValue.clear();
    OGRLayer* result = m_ds->ExecuteSQL(sql.c_str(), nullptr, nullptr);
    if (CPLGetLastErrorType() >= CE_Failure) {
        if (result)
            m_ds->ReleaseResultSet(result);
        error = GdalSupport::lastError("a query failed");
        return false;
    }
    if (result) {
        if (std::unique_ptr<OGRFeature> f{result->GetNextFeature()})
            firstValue = f->GetFieldAsString(0);
        m_ds->ReleaseResultSet(result);
    }
    return true;
}

bool PgCoverageStore::open(std::string& error)
{
    // Shows who holds a lock in the server's activity view.
    ::setenv("PGAPPNAME", "klf-coverage", 0);
    const char* drivers[] = {"PostgreSQL", nullptr};
    const char* openOptions[] = {"LIST_ALL_TABLES=NO", nullptr};
    m_ds.reset(GDALDataset::Open(m_connection.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers, openOptions, nullptr));
    if (!m_ds) {
        error = GdalSupport::lastError("cannot connect");
        return false;
    }
    if (m_ds->StartTransaction() != OGRERR_NONE) {
        error = GdalSupport::lastError("cannot start a transaction");
        return false;
    }
    // Once made, the tables are left alone: statements such as CREATE INDEX
    // IF NOT EXISTS lock a table even when they do nothing, and would wait
    // for every upload in progress.
    std::string made, metres;
    if (!query("SELECT to_regclass('cells') IS NOT NULL AND to_regprocedure('tavrix_hist_figures(bigint[])') IS NOT NULL",
               made, error)) {
        m_ds->RollbackTransaction();
        return false;
    }
    if ((made != "t" && made != "1" && made != "true"
         && (!GdalSupport::execute(m_ds.get(), kSetupLock, error)
             || !GdalSupport::execute(m_ds.get(), schema(m_settings), error)))
        || !query(std::string("SELECT cell_metres FROM coverage_grid WHERE grid = '") + CoverageLayers::kGridName + "'",
                  metres, error)) {
        m_ds->RollbackTransaction();
        return false;
    }
    if (m_ds->CommitTransaction() != OGRERR_NONE) {
        error = GdalSupport::lastError("cannot commit the tables");
        return false;
    }
    if (std::strtod(metres.c_str(), nullptr) != m_settings.cellMetres) {
        error = "its cells are " + metres + " m, not " + number(m_settings.cellMetres) + " m: choose --cell " + metres;
        return false;
    }
    return true;
}

bool PgCoverageStore::contains(const std::string& sha256)
{
    std::string found, error;
    return query("SELECT 1 FROM drives WHERE sha256 = " + CoverageStyle::quoted(sha256), found, error) && !found.empty();
}

bool PgCoverageStore::add(DriveCoverage drive, bool& already, std::string& error)
{
    for (int attempt = 1;; ++attempt) {
        if (addOnce(drive, already, error))
            return true;
        if (attempt >= kAttempts || error.find("deadlock") == std::string::npos)
            return false;
    }
}

bool PgCoverageStore::addOnce(const DriveCoverage& drive, bool& already, std::string& error)
{
    already = false;
    if (m_ds->StartTransaction() != OGRERR_NONE) {
        error = GdalSupport::lastError("cannot start a transaction");
        return false;
    }
    auto fail = [this] {
        m_ds->RollbackTransaction();
        return false;
    };
    const std::string sha = CoverageStyle::quoted(drive.sha256);
    const bool timed = !drive.route.empty();
    std::string fid;
    // The unique hash decides who adds a log sent twice at once: the second
    // waits here until the first commits, then finds it there.
    if (!query("WITH added AS (INSERT INTO drives (file_name, sha256, serial_number, first_time, last_time, fixes_used,"
               " samples_placed, samples_binned) VALUES ("
                   + CoverageStyle::quoted(drive.fileName) + ", " + sha + ", " + CoverageStyle::quoted(drive.serialNumber)
                   + ", " + (timed ? timeLiteral(drive.firstMs) : "NULL") + ", "
                   + (timed ? timeLiteral(drive.lastMs) : "NULL") + ", " + std::to_string(drive.fixesUsed) + ", "
                   + std::to_string(drive.samplesPlaced) + ", " + std::to_string(drive.samplesBinned)
                   + ") ON CONFLICT (sha256) DO NOTHING RETURNING fid) SELECT fid FROM added",
               fid, error))
        return fail();
    if (fid.empty()) {
        already = true;
        m_ds->RollbackTransaction();
        return true;
    }
    if (drive.route.size() >= 2) {
        std::string line = "LINESTRING(";
        for (size_t i = 0; i < drive.route.size(); ++i) {
            if (i)
                line += ',';
            line += number(drive.route[i].longitude);
            line += ' ';
            line += number(drive.route[i].latitude);
        }
        line += ")";
        if (!GdalSupport::execute(m_ds.get(),
                                  "INSERT INTO routes (file_name, sha256, geom) VALUES ("
                                      + CoverageStyle::quoted(drive.fileName) + ", " + sha + ", ST_GeomFromText('" + line
                                      + "', 4326))",
                                  error))
            return fail();
    }
    // One order for every upload, so that two uploads lock shared cells in
    // the same order and do not deadlock.
    std::vector<const std::pair<const CoverageCells::Key, CoverageCells::Record>*> rows;
    rows.reserve(drive.cells.size());
    for (const auto& entry : drive.cells.map())
        rows.push_back(&entry);
    std::sort(rows.begin(), rows.end(), [](const auto* a, const auto* b) {
        const CoverageGrid::Cell ca = CoverageGrid::cellOfKey(a->first.cell), cb = CoverageGrid::cellOfKey(b->first.cell);
        return std::tie(ca.row, ca.column, a->first.receiver, a->first.frequency)
               < std::tie(cb.row, cb.column, b->first.receiver, b->first.frequency);
    });
    for (size_t begin = 0; begin < rows.size(); begin += kRowsPerStatement) {
        std::string sql = "INSERT INTO cells (row, col, receiver, frequency_mhz, count, min_dbm, max_dbm, p10_dbm,"
                          " median_dbm, p90_dbm, mean_dbm, drives, first_time, last_time, histogram, geom) VALUES ";
        const size_t end = std::min(rows.size(), begin + kRowsPerStatement);
        for (size_t i = begin; i < end; ++i) {
            const auto& [key, r] = *rows[i];
            const CoverageGrid::Cell cell = CoverageGrid::cellOfKey(key.cell);
            const CoverageGrid::Bounds b = m_grid.bounds(cell);
            const CellFigures f = r.histogram.figures();
            std::string hist = "'{";
            const std::vector<uint64_t> counts = r.histogram.fromLowest();
            for (size_t k = 0; k < counts.size(); ++k) {
                if (k)
                    hist += ',';
                hist += std::to_string(counts[k]);
            }
            hist += "}'";
            sql += i == begin ? "(" : ",(";
            sql += std::to_string(cell.row) + "," + std::to_string(cell.column) + ","
                   + std::to_string(key.receiver + 1) + "," + number(CoverageCells::frequencyMHz(key.frequency)) + ","
                   + std::to_string(f.count) + "," + std::to_string(f.minimum) + "," + std::to_string(f.maximum) + ","
                   + std::to_string(f.p10) + "," + std::to_string(f.median) + "," + std::to_string(f.p90) + ","
                   + number(f.mean) + "," + std::to_string(r.drives) + "," + timeLiteral(r.firstMs) + ","
                   + timeLiteral(r.lastMs) + "," + hist + ",ST_MakeEnvelope(" + number(b.west) + "," + number(b.south)
                   + "," + number(b.east) + "," + number(b.north) + ",4326))";
        }
        sql += " ON CONFLICT (row, col, receiver, frequency_mhz) DO UPDATE SET"
               " histogram = tavrix_hist_add(cells.histogram, excluded.histogram),"
               " drives = cells.drives + excluded.drives,"
               " first_time = least(cells.first_time, excluded.first_time),"
               " last_time = greatest(cells.last_time, excluded.last_time),"
               " (count, min_dbm, max_dbm, p10_dbm, median_dbm, p90_dbm, mean_dbm) ="
               " (SELECT * FROM tavrix_hist_figures(tavrix_hist_add(cells.histogram, excluded.histogram)))";
        if (!GdalSupport::execute(m_ds.get(), sql, error))
            return fail();
    }
    if (m_ds->CommitTransaction() != OGRERR_NONE) {
        error = GdalSupport::lastError("cannot commit");
        return false;
    }
    return true;
}

bool PgCoverageStore::finish(std::string& error)
{
    std::string rows;
    if (!query("SELECT count(*) FROM cells", rows, error))
        return false;
    m_cellRows = std::strtoull(rows.c_str(), nullptr, 10);
    m_ds.reset();
    return true;
}
