#include "coverage/PgCoverageStore.h"

#include "coverage/CoverageLayers.h"
#include "coverage/CoverageStyle.h"
#include "platform/UtcTime.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

// Taken by every setup so that two first uploads do not both make the tables.
constexpr const char* kSetupLock = "SELECT pg_advisory_xact_lock(7735119)";

// How far into each log the map has read, and what the log is known by,
// added to a map made before; a log's beginning names one drive.
constexpr const char* kIdentityColumns =
    "ALTER TABLE drives ADD COLUMN IF NOT EXISTS log_id text, ADD COLUMN IF NOT EXISTS log_id_bytes bigint,"
    " ADD COLUMN IF NOT EXISTS bytes_read bigint, ADD COLUMN IF NOT EXISTS read_sha256 text;\n"
    "CREATE UNIQUE INDEX IF NOT EXISTS drives_log_id_idx ON drives (log_id, log_id_bytes);\n";

// Each cell's strongest row, chosen as the GeoPackage's view chooses it.
// SQLite sorts a NULL below every number and PostgreSQL above, hence NULLS
// LAST. The geometry keeps cells' type, so PostGIS lists the view among its
// geometry columns; GDAL takes a view's ogc_fid as its feature id.
constexpr const char* kBestView =
    "CREATE OR REPLACE VIEW best AS SELECT fid AS ogc_fid, geom, row, col, receiver, frequency_mhz, count, min_dbm,"
    " max_dbm, p10_dbm, median_dbm, p90_dbm, mean_dbm, drives, first_time, last_time FROM (SELECT *, row_number()"
    " OVER (PARTITION BY row, col ORDER BY median_dbm DESC NULLS LAST, count DESC NULLS LAST, frequency_mhz, receiver)"
    " AS rank FROM cells) ranked WHERE rank = 1";

// The shortest text that reads back as the same double.
void appendNumber(std::string& out, double v)
{
    char text[32];
    out.append(text, std::to_chars(text, text + sizeof text, v).ptr);
}

void appendNumber(std::string& out, int64_t v)
{
    char text[24];
    out.append(text, std::to_chars(text, text + sizeof text, v).ptr);
}

template <typename T>
std::string number(T v)
{
    std::string text;
    appendNumber(text, v);
    return text;
}

// A deadlock's victim or a serialization failure: the same transaction
// sent again may well go through. Decided on the code, as the message is
// in the server's language.
bool worthRetrying(const std::string& sqlState)
{
    return sqlState == "40P01" || sqlState == "40001";
}

// Bytes of the well-formed UTF-8 sequence at the start of text, 0 when it
// starts with none (overlong forms, surrogates and code points past
// U+10FFFF are not well-formed).
size_t utf8Sequence(std::string_view text)
{
    const auto at = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b = at(0);
    if (b < 0x80)
        return 1;
    size_t n = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (b >= 0xC2 && b <= 0xDF)
        n = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        low = b == 0xE0 ? 0xA0 : 0x80;
        high = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        low = b == 0xF0 ? 0x90 : 0x80;
        high = b == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (text.size() < n || at(1) < low || at(1) > high)
        return 0;
    for (size_t i = 2; i < n; ++i)
        if (at(i) < 0x80 || at(i) > 0xBF)
            return 0;
    return n;
}

// A file name for a text column of a UTF-8 database. Names are bytes, and
// the server refuses a text that is not UTF-8: each byte that is no part of
// a well-formed sequence is written \xNN, as a reader can tell it apart.
std::string storedName(const std::string& name)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < name.size();) {
        const size_t n = utf8Sequence(std::string_view(name).substr(i));
        if (n > 0) {
            out.append(name, i, n);
            i += n;
            continue;
        }
        const auto b = static_cast<unsigned char>(name[i++]);
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

// The server's message without its severity and trailing newline.
std::string message(const PGresult* result, const PGconn* conn, const char* fallback)
{
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    std::string m = primary ? primary : PQerrorMessage(conn);
    while (!m.empty() && (m.back() == '\n' || m.back() == ' '))
        m.pop_back();
    return m.empty() ? fallback : m;
}

struct Result
{
    explicit Result(PGresult* r) : result(r) {}
    ~Result() { PQclear(result); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    PGresult* result;
};

// The drive's cells as the server's COPY reads them; every field is a
// number, a time or an array of numbers, none of which COPY's text format
// would have to escape. The cell's corners go as numbers, ST_MakeEnvelope
// makes the polygon.
constexpr const char* kStaging =
    "CREATE TEMPORARY TABLE tavrix_cells_in (row integer, col integer, receiver smallint,"
    " frequency_mhz double precision, count bigint, min_dbm integer, max_dbm integer, p10_dbm integer,"
    " median_dbm integer, p90_dbm integer, mean_dbm double precision, drives integer, first_time timestamptz,"
    " last_time timestamptz, histogram bigint[], west double precision, south double precision,"
    " east double precision, north double precision) ON COMMIT DROP";

// Every upload locks the cells it shares with another in one order, so two
// uploads never wait for each other both ways.
constexpr const char* kUpsert =
    "INSERT INTO cells (row, col, receiver, frequency_mhz, count, min_dbm, max_dbm, p10_dbm, median_dbm, p90_dbm,"
    " mean_dbm, drives, first_time, last_time, histogram, geom)"
    " SELECT row, col, receiver, frequency_mhz, count, min_dbm, max_dbm, p10_dbm, median_dbm, p90_dbm, mean_dbm,"
    " drives, first_time, last_time, histogram, ST_MakeEnvelope(west, south, east, north, 4326)"
    " FROM tavrix_cells_in ORDER BY row, col, receiver, frequency_mhz"
    " ON CONFLICT (row, col, receiver, frequency_mhz) DO UPDATE SET"
    " histogram = tavrix_hist_add(cells.histogram, excluded.histogram),"
    " drives = cells.drives + excluded.drives,"
    " first_time = least(cells.first_time, excluded.first_time),"
    " last_time = greatest(cells.last_time, excluded.last_time),"
    " (count, min_dbm, max_dbm, p10_dbm, median_dbm, p90_dbm, mean_dbm) ="
    " (SELECT * FROM tavrix_hist_figures(tavrix_hist_add(cells.histogram, excluded.histogram)))";

std::string timeText(int64_t ms)
{
    char text[40];
    return std::string(text, size_t(UtcTime::iso8601(ms, text)));
}

} // namespace

PgCoverageStore::PgCoverageStore(std::string connection, Settings settings)
    : m_connection(std::move(connection)), m_settings(settings), m_grid(settings.cellMetres)
{
    // The tool's option reads as GDAL's name for a PostgreSQL database.
    if (m_connection.rfind("PG:", 0) == 0)
        m_connection.erase(0, 3);
}

PgCoverageStore::~PgCoverageStore() = default;

void PgCoverageStore::Close::operator()(pg_conn* c) const
{
    PQfinish(c);
}

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
           + kIdentityColumns + CoverageStyle::pgTable() + ";\n" + CoverageStyle::pgRow("public", s.rangeMin, s.rangeMax)
           + ";\n" + bestLayer(s);
}

std::string PgCoverageStore::bestLayer(const Settings& s)
{
    return std::string(kBestView) + ";\n" + CoverageStyle::pgBestRow("public", s.rangeMin, s.rangeMax) + ";\n";
}

bool PgCoverageStore::query(const std::string& sql, std::string& firstValue, std::string& error,
                            std::initializer_list<const char*> parameters)
{
    firstValue.clear();
    m_sqlState.clear();
    // Without parameters, the text may hold several statements.
    const std::vector<const char*> values(parameters);
    const Result r(values.empty() ? PQexec(m_conn.get(), sql.c_str())
                                  : PQexecParams(m_conn.get(), sql.c_str(), int(values.size()), nullptr,
                                                 values.data(), nullptr, nullptr, 0));
    const ExecStatusType status = PQresultStatus(r.result);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        error = message(r.result, m_conn.get(), "a query failed");
        const char* state = r.result ? PQresultErrorField(r.result, PG_DIAG_SQLSTATE) : nullptr;
        m_sqlState = state ? state : "";
        return false;
    }
    if (status == PGRES_TUPLES_OK && PQntuples(r.result) > 0 && PQnfields(r.result) > 0)
        firstValue = PQgetvalue(r.result, 0, 0);
    return true;
}

bool PgCoverageStore::execute(const std::string& sql, std::string& error,
                              std::initializer_list<const char*> parameters)
{
    std::string ignored;
    return query(sql, ignored, error, parameters);
}

void PgCoverageStore::rollback()
{
    // The failure's code, not the rollback's, decides a retry.
    const std::string state = m_sqlState;
    std::string ignored;
    execute("ROLLBACK", ignored);
    m_sqlState = state;
}

bool PgCoverageStore::open(std::string& error)
{
    // The name shows who holds a lock in the server's activity view; the
    // user's connection string comes after it, so it may name itself
    // otherwise. A file name is sent as UTF-8 whatever the user's locale.
    // A server that went away mid-upload (a vehicle's network) is given up
    // within a minute rather than the system's TCP timeouts of many, so that
    // an uploader following a log can say so and try again; the user's
    // string may set its own.
    const char* keywords[] = {"application_name", "connect_timeout", "keepalives_idle", "keepalives_interval",
                              "keepalives_count", "tcp_user_timeout", "dbname", "client_encoding", nullptr};
    const char* values[] = {"klf-coverage", "15", "10", "5", "3", "60000", m_connection.c_str(), "UTF8", nullptr};
    m_conn.reset(PQconnectdbParams(keywords, values, 1));
    if (!m_conn || PQstatus(m_conn.get()) != CONNECTION_OK) {
        error = m_conn ? message(nullptr, m_conn.get(), "cannot connect") : std::string("cannot connect");
        m_conn.reset();
        return false;
    }
    // The server's notices ("already exists, skipping") are not the user's business.
    PQsetNoticeProcessor(m_conn.get(), [](void*, const char*) {}, nullptr);
    if (!execute("BEGIN", error))
        return false;
    // Once made, the tables are left alone: statements such as CREATE INDEX
    // IF NOT EXISTS lock a table even when they do nothing, and would wait
    // for every upload in progress.
    std::string made, metres;
    if (!query("SELECT to_regclass('cells') IS NOT NULL AND to_regprocedure('tavrix_hist_figures(bigint[])') IS NOT NULL",
               made, error)) {
        rollback();
        return false;
    }
    const std::string asked = number(m_settings.cellMetres);
    m_making = made != "t";
    std::string identified;
    if (!m_making
        && !query("SELECT count(*) FROM pg_attribute WHERE attrelid = to_regclass('drives') AND NOT attisdropped"
                  " AND attname IN ('log_id', 'log_id_bytes', 'bytes_read', 'read_sha256')",
                  identified, error)) {
        rollback();
        return false;
    }
    if ((!m_making && identified != "4" && (!execute(kSetupLock, error) || !execute(kIdentityColumns, error)))
        || (m_making
         && (!execute(kSetupLock, error) || !execute(schema(m_settings), error)
             || !execute("INSERT INTO coverage_grid VALUES ($1, $2) ON CONFLICT DO NOTHING", error,
                         {CoverageLayers::kGridName, asked.c_str()})))
        || !query("SELECT cell_metres FROM coverage_grid WHERE grid = $1", metres, error, {CoverageLayers::kGridName})) {
        rollback();
        return false;
    }
    if (!m_making && !addBestLayer(error)) {
        rollback();
        return false;
    }
    if (!execute("COMMIT", error))
        return false;
    const double stored = std::strtod(metres.c_str(), nullptr);
    if (stored != m_settings.cellMetres) {
        const std::string was = number(stored);
        error = "its cells are " + was + " m, not " + asked + " m: choose --cell " + was;
        return false;
    }
    return true;
}

bool PgCoverageStore::addBestLayer(std::string& error)
{
    // Only the tables' owner makes the view, which reads cells with its
    // owner's rights. Anyone else, a vehicle's user, uploads without it, as
    // does an owner who cannot make it: the map lacks a view until the
    // owner's next upload, rather than the drive lacking from the map.
    std::string missing;
    if (!query("SELECT to_regclass('best') IS NULL AND pg_has_role((SELECT relowner FROM pg_class"
               " WHERE oid = to_regclass('cells')), 'USAGE')",
               missing, error))
        return false;
    if (missing != "t")
        return true;
    if (!execute("SAVEPOINT tavrix_best", error))
        return false;
    std::string ignored;
    if (execute(kSetupLock, ignored) && query("SELECT to_regclass('best') IS NULL", missing, ignored)
        && (missing != "t" || execute(bestLayer(m_settings), ignored)))
        return execute("RELEASE SAVEPOINT tavrix_best", error);
    return execute("ROLLBACK TO SAVEPOINT tavrix_best", error);
}

bool PgCoverageStore::contains(const std::string& sha256, bool& found, std::string& error)
{
    std::string one;
    if (!query("SELECT 1 FROM drives WHERE sha256 = $1", one, error, {sha256.c_str()}))
        return false;
    found = !one.empty();
    return true;
}

bool PgCoverageStore::identityLengths(std::vector<uint64_t>& lengths, std::string& error)
{
    std::string list;
    if (!query("SELECT string_agg(DISTINCT log_id_bytes::text, ',') FROM drives WHERE log_id IS NOT NULL", list, error))
        return false;
    lengths.clear();
    for (size_t at = 0; at < list.size();) {
        const size_t comma = std::min(list.find(',', at), list.size());
        lengths.push_back(std::strtoull(list.substr(at, comma - at).c_str(), nullptr, 10));
        at = comma + 1;
    }
    return true;
}

bool PgCoverageStore::find(const std::map<uint64_t, std::string>& digests, const std::string& fileName,
                           Known& known, std::string& error)
{
    known = {};
    for (const auto& [length, digest] : digests) {
        const std::string bytes = number(int64_t(length));
        std::string read;
        if (!query("SELECT coalesce(bytes_read, 0) || ' ' || coalesce(read_sha256, '') FROM drives"
                   " WHERE log_id = $1 AND log_id_bytes = $2",
                   read, error,
                   {digest.c_str(), bytes.c_str()}))
            return false;
        if (!read.empty()) {
            known.found = true;
            known.logId = digest;
            known.logIdBytes = length;
            known.bytesRead = std::strtoull(read.c_str(), nullptr, 10);
            known.readSha256 = read.substr(std::min(read.size(), read.find(' ') + 1));
            break;
        }
    }
    std::string named;
    const std::string name = storedName(fileName);
    if (!query("SELECT coalesce(bool_or(log_id IS NOT NULL)::text || bool_or(log_id IS NULL)::text, '')"
               " FROM drives WHERE file_name = $1",
               named, error, {name.c_str()}))
        return false;
    known.sameName = named.rfind("true", 0) == 0;
    known.sameNameBefore = named.size() >= 4 && named.compare(named.size() - 4, 4, "true") == 0;
    return true;
}

bool PgCoverageStore::connected() const
{
    return m_conn && PQstatus(m_conn.get()) == CONNECTION_OK;
}

bool PgCoverageStore::add(DriveCoverage drive, bool& already, std::string& error)
{
    for (int attempt = 1;; ++attempt) {
        if (addOnce(drive, already, error))
            return true;
        if (attempt >= kAttempts || !worthRetrying(m_sqlState))
            return false;
    }
}

bool PgCoverageStore::addOnce(const DriveCoverage& drive, bool& already, std::string& error)
{
    already = false;
    if (!execute("BEGIN", error))
        return false;
    auto fail = [this] {
        rollback();
        return false;
    };
    std::string sha256;
    if (!writeDrive(drive, sha256, error))
        return fail();
    if (sha256.empty()) {
        already = true;
        rollback();
        return true;
    }
    const std::string name = storedName(drive.fileName);
    if (drive.route.size() >= 2) {
        std::string line = "LINESTRING(";
        for (size_t i = 0; i < drive.route.size(); ++i) {
            if (i)
                line += ',';
            appendNumber(line, drive.route[i].longitude);
            line += ' ';
            appendNumber(line, drive.route[i].latitude);
        }
        line += ")";
        if (!execute("INSERT INTO routes (file_name, sha256, geom) VALUES ($1, $2, ST_GeomFromText($3, 4326))", error,
                     {name.c_str(), sha256.c_str(), line.c_str()}))
            return fail();
    }
    if (!copyCells(drive, error) || !execute(kUpsert, error))
        return fail();
    // Viewers of the shared map listen for this; the server sends it only
    // once the upload commits, and never for one rolled back.
    if (!execute("SELECT pg_notify($1, $2)", error, {kNotifyChannel, sha256.c_str()}))
        return fail();
    return execute("COMMIT", error);
}

bool PgCoverageStore::writeDrive(const DriveCoverage& drive, std::string& sha256, std::string& error)
{
    const bool timed = !drive.route.empty();
    const std::string name = storedName(drive.fileName), serial = storedName(drive.serialNumber);
    const std::string first = timed ? timeText(drive.firstMs) : "", last = timed ? timeText(drive.lastMs) : "";
    const std::string fixes = number(int64_t(drive.fixesUsed)), placed = number(int64_t(drive.samplesPlaced)),
                      binned = number(int64_t(drive.samplesBinned));
    const std::string idBytes = number(int64_t(drive.logIdBytes)), read = number(int64_t(drive.bytesRead));
    const char* logId = drive.logId.empty() ? nullptr : drive.logId.c_str();
    if (drive.resumedFrom > 0) {
        // Only from where the row says the map stopped: of two uploads of
        // the grown log at once, the second waits for the first's row and
        // then finds it moved on.
        const std::string from = number(int64_t(drive.resumedFrom));
        // A finished log's last upload gives the row the whole file's hash,
        // as a one-shot upload of the file would have; its routes follow in
        // the same statement, whose end is when their reference is checked.
        const char* whole = drive.sha256.empty() ? nullptr : drive.sha256.c_str();
        return query("WITH moved AS (UPDATE drives d SET bytes_read = $3, read_sha256 = $10,"
                     " sha256 = coalesce($11, d.sha256), first_time = least(d.first_time, $4),"
                     " last_time = greatest(d.last_time, $5), fixes_used = d.fixes_used + $6,"
                     " samples_placed = d.samples_placed + $7, samples_binned = d.samples_binned + $8"
                     " FROM (SELECT fid, sha256 AS was FROM drives WHERE log_id = $1 AND log_id_bytes = $2"
                     " AND bytes_read = $9 FOR UPDATE) o WHERE d.fid = o.fid AND d.bytes_read = $9"
                     " RETURNING d.sha256, o.was),"
                     " routed AS (UPDATE routes r SET sha256 = m.sha256 FROM moved m WHERE r.sha256 = m.was"
                     " AND m.sha256 <> m.was)"
                     " SELECT sha256 FROM moved",
                     sha256, error,
                     {logId, idBytes.c_str(), read.c_str(), timed ? first.c_str() : nullptr,
                      timed ? last.c_str() : nullptr, fixes.c_str(), placed.c_str(), binned.c_str(), from.c_str(),
                      drive.readSha256.c_str(), whole});
    }
    // The unique hash, and the unique beginning, decide who adds a log sent
    // twice at once: the second waits here until the first commits, then
    // finds it there.
    return query("WITH added AS (INSERT INTO drives (file_name, sha256, serial_number, first_time, last_time, fixes_used,"
                 " samples_placed, samples_binned, log_id, log_id_bytes, bytes_read, read_sha256)"
                 " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12)"
                 " ON CONFLICT DO NOTHING RETURNING sha256) SELECT sha256 FROM added",
                 sha256, error,
                 {name.c_str(), drive.sha256.c_str(), serial.c_str(), timed ? first.c_str() : nullptr,
                  timed ? last.c_str() : nullptr, fixes.c_str(), placed.c_str(), binned.c_str(), logId,
                  logId ? idBytes.c_str() : nullptr, logId ? read.c_str() : nullptr,
                  logId ? drive.readSha256.c_str() : nullptr});
}

bool PgCoverageStore::copyCells(const DriveCoverage& drive, std::string& error)
{
    if (!execute(kStaging, error))
        return false;
    {
        const Result r(PQexec(m_conn.get(), "COPY tavrix_cells_in FROM STDIN"));
        if (PQresultStatus(r.result) != PGRES_COPY_IN) {
            error = message(r.result, m_conn.get(), "cannot send the cells");
            return false;
        }
    }
    std::string buffer;
    buffer.reserve(kCopyChunk + 4096);
    bool sent = true;
    auto put = [&] {
        sent = sent && PQputCopyData(m_conn.get(), buffer.data(), int(buffer.size())) == 1;
        buffer.clear();
    };
    for (const auto& [key, r] : drive.cells.map()) {
        const CoverageGrid::Cell cell = CoverageGrid::cellOfKey(key.cell);
        const CoverageGrid::Bounds b = m_grid.bounds(cell);
        const CellFigures f = r.histogram.figures();
        for (int64_t v : {int64_t(cell.row), int64_t(cell.column), int64_t(key.receiver + 1)}) {
            appendNumber(buffer, v);
            buffer += '\t';
        }
        appendNumber(buffer, CoverageCells::frequencyMHz(key.frequency));
        for (int64_t v : {int64_t(f.count), int64_t(f.minimum), int64_t(f.maximum), int64_t(f.p10), int64_t(f.median),
                          int64_t(f.p90)}) {
            buffer += '\t';
            appendNumber(buffer, v);
        }
        buffer += '\t';
        appendNumber(buffer, f.mean);
        buffer += '\t';
        appendNumber(buffer, int64_t(r.drives));
        char time[40];
        buffer += '\t';
        buffer.append(time, size_t(UtcTime::iso8601(r.firstMs, time)));
        buffer += '\t';
        buffer.append(time, size_t(UtcTime::iso8601(r.lastMs, time)));
        buffer += "\t{";
        // Position 1 is the lowest level a reading can have.
        for (int dbm = RssiHistogram::kLowest, top = f.count ? f.maximum : RssiHistogram::kLowest - 1; dbm <= top; ++dbm) {
            if (dbm != RssiHistogram::kLowest)
                buffer += ',';
            appendNumber(buffer, int64_t(r.histogram.countAt(dbm)));
        }
        buffer += '}';
        for (double v : {b.west, b.south, b.east, b.north}) {
            buffer += '\t';
            appendNumber(buffer, v);
        }
        buffer += '\n';
        if (buffer.size() >= kCopyChunk)
            put();
    }
    if (!buffer.empty())
        put();
    if (!sent || PQputCopyEnd(m_conn.get(), nullptr) != 1) {
        error = message(nullptr, m_conn.get(), "cannot send the cells");
        return false;
    }
    const Result r(PQgetResult(m_conn.get()));
    // Then the end of the COPY's results.
    while (PGresult* rest = PQgetResult(m_conn.get()))
        PQclear(rest);
    if (PQresultStatus(r.result) != PGRES_COMMAND_OK) {
        error = message(r.result, m_conn.get(), "the server refused the cells");
        return false;
    }
    return true;
}

bool PgCoverageStore::finish(std::string& error)
{
    std::string rows;
    if (!m_conn || !query("SELECT count(*) FROM cells", rows, error))
        return false;
    m_cellRows = std::strtoull(rows.c_str(), nullptr, 10);
    m_conn.reset();
    return true;
}
