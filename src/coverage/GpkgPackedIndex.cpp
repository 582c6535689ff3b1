#include "coverage/GpkgPackedIndex.h"

#include "coverage/GdalSupport.h"

#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

namespace {

constexpr const char* kSavepoint = "tavrix_packed_index";

// Writes pairs of numbers, or a number and a blob, into one of the index's
// tables through a statement prepared once.
class Insert
{
public:
    Insert(sqlite3* db, const std::string& sql)
    {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &m_statement, nullptr) != SQLITE_OK)
            m_statement = nullptr;
    }
    ~Insert() { sqlite3_finalize(m_statement); }
    Insert(const Insert&) = delete;
    Insert& operator=(const Insert&) = delete;

    bool row(int64_t a, int64_t b) { return m_statement && sqlite3_bind_int64(m_statement, 2, b) == SQLITE_OK && step(a); }
    bool row(int64_t a, const std::vector<uint8_t>& blob)
    {
        return m_statement
               && sqlite3_bind_blob(m_statement, 2, blob.data(), int(blob.size()), SQLITE_STATIC) == SQLITE_OK
               && step(a);
    }

private:
    bool step(int64_t a)
    {
        const bool ok = sqlite3_bind_int64(m_statement, 1, a) == SQLITE_OK && sqlite3_step(m_statement) == SQLITE_DONE;
        sqlite3_reset(m_statement);
        return ok;
    }

    sqlite3_stmt* m_statement = nullptr;
};

// The first column of a query's rows as text; false when it fails.
bool column(sqlite3* db, const std::string& sql, std::vector<std::string>& values)
{
    values.clear();
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
        return false;
    int step;
    while ((step = sqlite3_step(s)) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        values.emplace_back(text ? text : "");
    }
    sqlite3_finalize(s);
    return step == SQLITE_DONE;
}

// Whether GDAL finds an index on the layer's geometry. Asked through GDAL,
// which first writes out what it holds back.
bool hasIndex(GDALDataset* ds, const std::string& layer)
{
    bool indexed = false;
    if (OGRLayer* r = ds->ExecuteSQL(("SELECT HasSpatialIndex('" + layer + "', 'geom')").c_str(), nullptr, nullptr)) {
        if (std::unique_ptr<OGRFeature> f{r->GetNextFeature()})
            indexed = f->GetFieldAsInteger(0) == 1;
        ds->ReleaseResultSet(r);
    }
    return indexed;
}

std::string quoted(const std::string& name)
{
    return '"' + name + '"';
}

// The declaration GeoPackage gives the index, whose node layout the tree
// is packed in, once spaces, quotes and case are set aside.
bool declaredAsGeoPackage(const std::string& sql, const std::string& rtree)
{
    std::string plain;
    for (const char c : sql)
        if (!std::isspace(static_cast<unsigned char>(c)) && c != '"')
            plain += char(std::tolower(static_cast<unsigned char>(c)));
    std::string want = "createvirtualtable" + rtree + "usingrtree(id,minx,maxx,miny,maxy)";
    std::transform(want.begin(), want.end(), want.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return plain == want;
}

} // namespace

GpkgPackedIndex::GpkgPackedIndex(GDALDataset* ds, std::string layer)
    : m_ds(ds), m_layer(std::move(layer)), m_rtree("rtree_" + m_layer + "_geom")
{
}

GpkgPackedIndex::~GpkgPackedIndex()
{
    // Unfinished, the caller's transaction is rolled back: nothing to undo
    // but the packing, which writes into members (a failure of it no longer matters).
    if (m_packer.valid())
        m_packer.wait();
    deferGdalsIndexUpdate(false);
}

bool GpkgPackedIndex::packsNewIndex()
{
    if (const char* forced = CPLGetConfigOption("TAVRIX_GPKG_PACKED_INDEX", nullptr))
        return CPLTestBool(forced);
    return std::atoi(GDALVersionInfo("VERSION_NUM")) < GDAL_COMPUTE_VERSION(3, 8, 0);
}

bool GpkgPackedIndex::createWhereMissing(GDALDataset* ds, const std::string& layer, std::string& error)
{
    return hasIndex(ds, layer) || GdalSupport::execute(ds, "SELECT CreateSpatialIndex('" + layer + "', 'geom')", error);
}

void GpkgPackedIndex::deferGdalsIndexUpdate(bool on)
{
    // GDAL would otherwise, a hundred rows into a transaction, take the
    // index's triggers out itself to fill the index at the commit.
    if (on != m_deferred)
        CPLSetThreadLocalConfigOption("OGR_GPKG_DEFERRED_SPI_UPDATE_THRESHOLD", on ? "2000000000" : nullptr);
    m_deferred = on;
}

bool GpkgPackedIndex::exec(const std::string& sql, std::string& error) const
{
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error = message ? message : sqlite3_errmsg(m_db);
    sqlite3_free(message);
    return false;
}

void GpkgPackedIndex::start(bool rebuild)
{
    const char* off = CPLGetConfigOption("TAVRIX_GPKG_PACKED_INDEX", nullptr);
    if (off && !CPLTestBool(off))
        return;
    const bool indexed = hasIndex(m_ds, m_layer);
    m_db = static_cast<sqlite3*>(m_ds->GetInternalHandle("SQLITE_HANDLE"));
    std::vector<std::string> values;
    if (!indexed || !m_db
        || !column(m_db, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = '" + m_rtree + "'", values)
        || values.size() != 1 || !declaredAsGeoPackage(values[0], m_rtree))
        return;
    if (!column(m_db,
                "SELECT length(data) FROM " + quoted(m_rtree + "_node") + " WHERE nodeno = 1"
                    + (rebuild ? std::string() : " AND NOT EXISTS (SELECT 1 FROM " + quoted(m_rtree + "_rowid") + ")"),
                values)
        || values.size() != 1)
        return;
    const size_t nodeBytes = size_t(std::strtoul(values[0].c_str(), nullptr, 10));
    if (nodeBytes < 4 + PackedRtree::kCellBytes)
        return;
    // The triggers that keep the index in step go while the rows go in,
    // and come back as they were; all or none of them.
    std::vector<std::string> names;
    const std::string ofIndex = "type = 'trigger' AND tbl_name = '" + m_layer + "' AND name LIKE '" + m_rtree
                                + "\\_%' ESCAPE '\\'";
    std::string error;
    if (!column(m_db, "SELECT name FROM sqlite_master WHERE " + ofIndex + " ORDER BY name", names)
        || !column(m_db, "SELECT sql FROM sqlite_master WHERE " + ofIndex + " ORDER BY name", m_triggers)
        || names.size() != m_triggers.size() || !exec(std::string("SAVEPOINT ") + kSavepoint, error)) {
        m_triggers.clear();
        return;
    }
    bool dropped = true;
    for (const std::string& name : names)
        dropped = dropped && exec("DROP TRIGGER " + quoted(name), error);
    if (!dropped) {
        exec(std::string("ROLLBACK TO ") + kSavepoint, error);
        m_triggers.clear();
    }
    exec(std::string("RELEASE ") + kSavepoint, error);
    if (!dropped)
        return;
    m_nodeBytes = nodeBytes;
    m_rebuild = rebuild;
    deferGdalsIndexUpdate(true);
}

void GpkgPackedIndex::pack(std::vector<PackedRtree::Entry> entries)
{
    m_packer = std::async(std::launch::async, [this, entries = std::move(entries)]() mutable {
        m_tree.emplace(std::move(entries), m_nodeBytes);
    });
}

void GpkgPackedIndex::gather(std::function<void(std::vector<PackedRtree::Entry>&)> existing)
{
    m_packer = std::async(std::launch::async, [this, existing = std::move(existing)] { existing(m_gathered); });
}

bool GpkgPackedIndex::finish(std::string& error)
{
    m_fellBack.clear();
    if (!packing())
        return true;
    if (m_packer.valid())
        m_packer.get();
    if (!m_tree) {
        m_gathered.insert(m_gathered.end(), m_added.begin(), m_added.end());
        m_added = {};
        m_tree.emplace(std::move(m_gathered), m_nodeBytes);
        m_gathered = {};
    }
    // Undone whole when any part fails: the index as start() left it.
    std::string why;
    bool packed = exec(std::string("SAVEPOINT ") + kSavepoint, why);
    if (packed && !(packed = write(*m_tree, why))) {
        std::string ignored;
        exec(std::string("ROLLBACK TO ") + kSavepoint, ignored);
    }
    std::string released;
    if (!exec(std::string("RELEASE ") + kSavepoint, released) && packed) {
        packed = false;
        why = released;
    }
    m_tree.reset();
    m_nodeBytes = 0;
    deferGdalsIndexUpdate(false);
    bool filled = packed;
    if (!packed) {
        m_fellBack = why.empty() ? "the index's tables could not be written" : why;
        filled = fillRowByRow(error);
    }
    m_triggers.clear();
    return filled;
}

bool GpkgPackedIndex::write(const PackedRtree& tree, std::string& error)
{
    if (m_rebuild)
        for (const char* table : {"_node", "_rowid", "_parent"})
            if (!exec("DELETE FROM " + quoted(m_rtree + table), error))
                return false;
    Insert nodes(m_db, "INSERT OR REPLACE INTO " + quoted(m_rtree + "_node") + " (nodeno, data) VALUES (?, ?)");
    Insert rowids(m_db, "INSERT INTO " + quoted(m_rtree + "_rowid") + " (rowid, nodeno) VALUES (?, ?)");
    Insert parents(m_db, "INSERT INTO " + quoted(m_rtree + "_parent") + " (nodeno, parentnode) VALUES (?, ?)");
    const auto failed = [this, &error] {
        error = sqlite3_errmsg(m_db);
        return false;
    };
    for (const PackedRtree::Node& node : tree.nodes())
        if (!nodes.row(node.number, node.data))
            return failed();
    for (const auto& [links, insert] : {std::pair{&tree.rowids(), &rowids}, std::pair{&tree.parents(), &parents}})
        for (const PackedRtree::Link& link : *links)
            if (!insert->row(link.from, link.to))
                return failed();
    for (const std::string& trigger : m_triggers)
        if (!exec(trigger, error))
            return false;
    return true;
}

bool GpkgPackedIndex::fillRowByRow(std::string& error)
{
    // The statements GDAL's CreateSpatialIndex runs over a filled layer.
    OGRLayer* layer = m_ds->GetLayerByName(m_layer.c_str());
    const std::string fid = layer && *layer->GetFIDColumn() ? layer->GetFIDColumn() : "fid";
    for (const std::string& trigger : m_triggers)
        if (!exec(trigger, error))
            return false;
    return exec("DELETE FROM " + quoted(m_rtree), error)
           && exec("INSERT INTO " + quoted(m_rtree) + " SELECT " + quoted(fid)
                       + ", ST_MinX(geom), ST_MaxX(geom), ST_MinY(geom), ST_MaxY(geom) FROM " + quoted(m_layer)
                       + " WHERE geom IS NOT NULL AND NOT ST_IsEmpty(geom)",
                   error);
}
