#include "coverage/GpkgCoverageStore.h"

#include "coverage/CoverageLayers.h"
#include "coverage/CoverageStyle.h"
#include "coverage/GdalSupport.h"
#include "coverage/GpkgFile.h"
#include "coverage/GpkgPackedIndex.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <optional>
#include <utility>

using namespace CoverageLayers;

namespace {

bool addField(OGRLayer* layer, const char* name, OGRFieldType type, std::string& error)
{
    OGRFieldDefn field(name, type);
    if (layer->CreateField(&field) != OGRERR_NONE) {
        error = GdalSupport::lastError(std::string("cannot add field ") + name);
        return false;
    }
    return true;
}

// The shortest text that reads back as the same number: 50.0000001 is not 50.
std::string shortest(double v)
{
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// Under this much room left, a failed write is put down to a full disk.
constexpr uint64_t kFullDiskBytes = uint64_t(1) << 20;

} // namespace

GpkgCoverageStore::GpkgCoverageStore(std::string path, Settings settings)
    : m_path(std::move(path)), m_settings(settings), m_grid(settings.cellMetres)
{
    GdalSupport::init();
}

GpkgCoverageStore::~GpkgCoverageStore()
{
    close();
    // Not published: a run that made the map failed, and takes it away.
    if (m_making && !m_file.empty())
        GpkgFile::remove(m_file);
}

void GpkgCoverageStore::close()
{
    if (!m_ds)
        return;
    // Rolling back and closing, GDAL stamps each layer written to with a
    // change time: refused, as a failed run changes nothing.
    auto* db = static_cast<sqlite3*>(m_ds->GetInternalHandle("SQLITE_HANDLE"));
    if (db)
        sqlite3_exec(db, "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
    CPLPushErrorHandler(CPLQuietErrorHandler);
    if (m_inTransaction) {
        m_ds->RollbackTransaction();
        // A write the disk refused midway leaves SQLite's journal to be
        // played back at the next read: done now, so the file is as it was
        // before the run once the tool ends.
        if (db)
            sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    }
    m_inTransaction = false;
    m_ds.reset();
    CPLPopErrorHandler();
}

bool GpkgCoverageStore::open(std::string& error)
{
    struct stat st{};
    m_making = ::lstat(m_path.c_str(), &st) != 0;
    // A new map takes its name without replacing what has it, a link too.
    if (!m_making && S_ISLNK(st.st_mode) && ::stat(m_path.c_str(), &st) != 0) {
        error = "a symbolic link to nothing: name the file it should lead to";
        return false;
    }
    m_file = m_making ? GpkgFile::temporaryName(m_path, error) : m_path;
    if (m_file.empty())
        return false;
    if (!m_making && (error = GpkgFile::unwritable(m_file), !error.empty()))
        return false;
    if (m_making) {
        if (!create(error))
            return explained(error);
        // GDAL makes a new layer's table at its first row, committing on
        // the way, which would leave every later row in a transaction of
        // its own. Closed and opened again, the tables are there.
        m_ds.reset();
    }
    {
        const char* drivers[] = {"GPKG", nullptr};
        m_ds.reset(GDALDataset::Open(m_file.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers, nullptr, nullptr));
        if (!m_ds) {
            error = GdalSupport::lastError("not a GeoPackage");
            return false;
        }
        if (!load(error))
            return false;
    }
    if (m_ds->StartTransaction() != OGRERR_NONE) {
        error = GdalSupport::lastError("cannot start a transaction");
        return explained(error);
    }
    m_inTransaction = true;
    // A map made before logs were known by their beginning gets the fields
    // within the run, so that a run that fails leaves it as it was.
    if (!m_identityFields && !addIdentityFields(error))
        return explained(error);
    return true;
}

bool GpkgCoverageStore::explained(std::string& error) const
{
    // GDAL's message quotes the statement, which may be kilobytes of SQL
    // (the style's): only SQLite's reason is the user's business.
    const size_t statement = error.rfind(") failed: ");
    if (error.rfind("sqlite3_exec(", 0) == 0 && statement != std::string::npos)
        error = "cannot write the map: " + error.substr(statement + 10);
    auto* db = m_ds ? static_cast<sqlite3*>(m_ds->GetInternalHandle("SQLITE_HANDLE")) : nullptr;
    const int code = db ? sqlite3_errcode(db) : SQLITE_OK;
    struct statvfs disk{};
    const std::string folder = GpkgFile::folderOf(m_file);
    // SQLite lets one writer at a time; this run has changed nothing.
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        error += " (another program, such as another klf-coverage run, is writing to the map: run again once it"
                 " has finished)";
    // A write the disk refused may show only as a later statement's failure.
    else if (::statvfs(folder.c_str(), &disk) == 0 && uint64_t(disk.f_bavail) * disk.f_bsize < kFullDiskBytes)
        error += " (the disk is full)";
    return false;
}

bool GpkgCoverageStore::create(std::string& error)
{
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
    if (!driver) {
        error = "GDAL has no GeoPackage driver";
        return false;
    }
    m_ds.reset(driver->Create(m_file.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!m_ds) {
        error = GdalSupport::lastError("cannot create the file");
        return false;
    }
    OGRLayer* grid = m_ds->CreateLayer(kGrid, nullptr, wkbNone, nullptr);
    // The cells' spatial index is made empty below and packed with the
    // first rows, unless GDAL packs it itself at the end of the first run,
    // where the routes' comes.
    const char* noIndex[] = {"SPATIAL_INDEX=NO", nullptr};
    OGRLayer* cells = m_ds->CreateLayer(kCells, GdalSupport::wgs84(), wkbPolygon, const_cast<char**>(noIndex));
    OGRLayer* drives = m_ds->CreateLayer(kDrives, nullptr, wkbNone, nullptr);
    OGRLayer* routes = m_ds->CreateLayer(kRoutes, GdalSupport::wgs84(), wkbLineString, const_cast<char**>(noIndex));
    if (!grid || !cells || !drives || !routes) {
        error = GdalSupport::lastError("cannot create the layers");
        return false;
    }
    bool ok = addField(grid, "grid", OFTString, error) && addField(grid, "cell_metres", OFTReal, error);
    for (const char* f : {"row", "col", "receiver"})
        ok = ok && addField(cells, f, OFTInteger, error);
    ok = ok && addField(cells, "frequency_mhz", OFTReal, error) && addField(cells, "count", OFTInteger64, error);
    for (const char* f : {"min_dbm", "max_dbm", "p10_dbm", "median_dbm", "p90_dbm"})
        ok = ok && addField(cells, f, OFTInteger, error);
    ok = ok && addField(cells, "mean_dbm", OFTReal, error) && addField(cells, "drives", OFTInteger, error)
         && addField(cells, "first_time", OFTDateTime, error) && addField(cells, "last_time", OFTDateTime, error)
         && addField(cells, "histogram", OFTString, error);
    for (const char* f : {"file_name", "sha256", "serial_number"})
        ok = ok && addField(drives, f, OFTString, error);
    ok = ok && addField(drives, "first_time", OFTDateTime, error) && addField(drives, "last_time", OFTDateTime, error);
    for (const char* f : {"fixes_used", "samples_placed", "samples_binned"})
        ok = ok && addField(drives, f, OFTInteger64, error);
    ok = ok && addField(drives, "log_id", OFTString, error) && addField(drives, "log_id_bytes", OFTInteger64, error)
         && addField(drives, "bytes_read", OFTInteger64, error) && addField(drives, "read_sha256", OFTString, error);
    ok = ok && addField(routes, "file_name", OFTString, error) && addField(routes, "sha256", OFTString, error);
    if (!ok)
        return false;
    OGRFeature row(grid->GetLayerDefn());
    row.SetField("grid", kGridName);
    row.SetField("cell_metres", m_settings.cellMetres);
    if (grid->CreateFeature(&row) != OGRERR_NONE) {
        error = GdalSupport::lastError("cannot write the grid");
        return false;
    }
    return (!GpkgPackedIndex::packsNewIndex()
            || GdalSupport::execute(m_ds.get(), std::string("SELECT CreateSpatialIndex('") + kCells + "', 'geom')", error))
           && GdalSupport::execute(m_ds.get(), CoverageStyle::gpkgTable(), error)
           && GdalSupport::execute(m_ds.get(), CoverageStyle::gpkgContents(), error)
           && GdalSupport::execute(m_ds.get(), CoverageStyle::gpkgRow(m_settings.rangeMin, m_settings.rangeMax), error);
}

bool GpkgCoverageStore::load(std::string& error)
{
    OGRLayer* grid = m_ds->GetLayerByName(kGrid);
    OGRLayer* cells = m_ds->GetLayerByName(kCells);
    OGRLayer* drives = m_ds->GetLayerByName(kDrives);
    if (!grid || !cells || !drives || !m_ds->GetLayerByName(kRoutes)) {
        error = "not a coverage map (its layers are missing)";
        return false;
    }
    grid->ResetReading();
    std::unique_ptr<OGRFeature> g(grid->GetNextFeature());
    if (!g || std::string(g->GetFieldAsString("grid")) != kGridName) {
        error = "not a coverage map of this program's grid";
        return false;
    }
    const double metres = g->GetFieldAsDouble("cell_metres");
    if (metres != m_settings.cellMetres) {
        const std::string was = shortest(metres);
        error = "its cells are " + was + " m, not " + shortest(m_settings.cellMetres) + " m: choose --cell " + was
                + " or another file";
        return false;
    }
    OGRFeatureDefn* dd = drives->GetLayerDefn();
    const int iSha = dd->GetFieldIndex("sha256"), iName = dd->GetFieldIndex("file_name");
    const int iLogId = dd->GetFieldIndex("log_id"), iLogIdBytes = dd->GetFieldIndex("log_id_bytes");
    const int iBytesRead = dd->GetFieldIndex("bytes_read"), iReadSha = dd->GetFieldIndex("read_sha256");
    if (std::min(iSha, iName) < 0) {
        error = "the drives layer lacks fields of a coverage map";
        return false;
    }
    m_identityFields = std::min({iLogId, iLogIdBytes, iBytesRead, iReadSha}) >= 0;
    drives->ResetReading();
    for (std::unique_ptr<OGRFeature> f(drives->GetNextFeature()); f; f.reset(drives->GetNextFeature())) {
        m_hashes.insert(f->GetFieldAsString(iSha));
        KnownDrive k;
        k.fid = f->GetFID();
        k.fileName = f->GetFieldAsString(iName);
        if (m_identityFields && f->IsFieldSetAndNotNull(iLogId)) {
            k.logId = f->GetFieldAsString(iLogId);
            k.logIdBytes = uint64_t(f->GetFieldAsInteger64(iLogIdBytes));
            k.bytesRead = uint64_t(f->GetFieldAsInteger64(iBytesRead));
            k.readSha256 = f->GetFieldAsString(iReadSha);
        }
        m_drives.push_back(std::move(k));
    }

    OGRFeatureDefn* d = cells->GetLayerDefn();
    const int iRow = d->GetFieldIndex("row"), iCol = d->GetFieldIndex("col"), iRx = d->GetFieldIndex("receiver");
    const int iFreq = d->GetFieldIndex("frequency_mhz"), iDrives = d->GetFieldIndex("drives");
    const int iFirst = d->GetFieldIndex("first_time"), iLast = d->GetFieldIndex("last_time");
    const int iHist = d->GetFieldIndex("histogram");
    if (std::min({iRow, iCol, iRx, iFreq, iDrives, iFirst, iLast, iHist}) < 0) {
        error = "the cells layer lacks fields of a coverage map";
        return false;
    }
    // Only what the merge reads: a cell's figures and polygon follow from
    // its histogram and its place.
    const char* derived[] = {"OGR_GEOMETRY", "count", "min_dbm", "max_dbm", "p10_dbm", "median_dbm", "p90_dbm", "mean_dbm",
                             nullptr};
    cells->SetIgnoredFields(derived);
    m_fids.reserve(size_t(std::max<GIntBig>(0, cells->GetFeatureCount(FALSE))));
    cells->ResetReading();
    for (std::unique_ptr<OGRFeature> f(cells->GetNextFeature()); f; f.reset(cells->GetNextFeature())) {
        const CoverageCells::Key key{CoverageGrid::key({f->GetFieldAsInteger(iRow), f->GetFieldAsInteger(iCol)}),
                                     CoverageCells::frequencyKey(f->GetFieldAsDouble(iFreq)),
                                     uint8_t(f->GetFieldAsInteger(iRx) - 1)};
        CoverageCells::Record& r = m_cells.at(key);
        if (!RssiHistogram::fromText(f->GetFieldAsString(iHist), r.histogram)) {
            error = "cell " + std::to_string(f->GetFID()) + " has a damaged histogram";
            return false;
        }
        r.drives = uint32_t(f->GetFieldAsInteger(iDrives));
        r.firstMs = GdalSupport::time(*f, iFirst);
        r.lastMs = GdalSupport::time(*f, iLast);
        m_fids[key] = f->GetFID();
    }
    cells->SetIgnoredFields(nullptr);
    return true;
}

bool GpkgCoverageStore::addIdentityFields(std::string& error)
{
    OGRLayer* drives = m_ds->GetLayerByName(kDrives);
    OGRFeatureDefn* d = drives->GetLayerDefn();
    const auto missing = [d](const char* name) { return d->GetFieldIndex(name) < 0; };
    m_identityFields = (!missing("log_id") || addField(drives, "log_id", OFTString, error))
                       && (!missing("log_id_bytes") || addField(drives, "log_id_bytes", OFTInteger64, error))
                       && (!missing("bytes_read") || addField(drives, "bytes_read", OFTInteger64, error))
                       && (!missing("read_sha256") || addField(drives, "read_sha256", OFTString, error));
    return m_identityFields;
}

bool GpkgCoverageStore::identityLengths(std::vector<uint64_t>& lengths, std::string&)
{
    lengths.clear();
    for (const KnownDrive& k : m_drives)
        if (!k.logId.empty())
            lengths.push_back(k.logIdBytes);
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    return true;
}

bool GpkgCoverageStore::find(const std::map<uint64_t, std::string>& digests, const std::string& fileName,
                             Known& known, std::string&)
{
    known = {};
    for (const KnownDrive& k : m_drives) {
        const auto digest = digests.find(k.logIdBytes);
        if (!known.found && !k.logId.empty() && digest != digests.end() && digest->second == k.logId) {
            known.found = true;
            known.logId = k.logId;
            known.logIdBytes = k.logIdBytes;
            known.bytesRead = k.bytesRead;
            known.readSha256 = k.readSha256;
        }
        if (k.fileName == fileName)
            (k.logId.empty() ? known.sameNameBefore : known.sameName) = true;
    }
    return true;
}

bool GpkgCoverageStore::add(DriveCoverage drive, bool& already, std::string& error)
{
    if (drive.resumedFrom > 0)
        return update(drive, already, error);
    already = m_hashes.count(drive.sha256) > 0;
    if (already)
        return true;
    OGRLayer* drives = m_ds->GetLayerByName(kDrives);
    OGRFeature row(drives->GetLayerDefn());
    row.SetField("file_name", drive.fileName.c_str());
    row.SetField("sha256", drive.sha256.c_str());
    row.SetField("serial_number", drive.serialNumber.c_str());
    if (!drive.route.empty()) {
        GdalSupport::setTime(row, "first_time", drive.firstMs);
        GdalSupport::setTime(row, "last_time", drive.lastMs);
    }
    row.SetField("fixes_used", GIntBig(drive.fixesUsed));
    row.SetField("samples_placed", GIntBig(drive.samplesPlaced));
    row.SetField("samples_binned", GIntBig(drive.samplesBinned));
    if (!drive.logId.empty()) {
        row.SetField("log_id", drive.logId.c_str());
        row.SetField("log_id_bytes", GIntBig(drive.logIdBytes));
        row.SetField("bytes_read", GIntBig(drive.bytesRead));
        row.SetField("read_sha256", drive.readSha256.c_str());
    }
    if (drives->CreateFeature(&row) != OGRERR_NONE) {
        error = GdalSupport::lastError("cannot write the drive");
        return explained(error);
    }
    if (!addRoute(drive, drive.sha256, error))
        return false;
    m_hashes.insert(drive.sha256);
    m_drives.push_back({row.GetFID(), drive.fileName, drive.logId, drive.logIdBytes, drive.bytesRead, drive.readSha256});
    m_cells.add(std::move(drive.cells), &m_changed);
    return true;
}

bool GpkgCoverageStore::addRoute(const DriveCoverage& drive, const std::string& sha256, std::string& error)
{
    if (drive.route.size() < 2)
        return true;
    OGRLayer* routes = m_ds->GetLayerByName(kRoutes);
    OGRFeature route(routes->GetLayerDefn());
    route.SetField("file_name", drive.fileName.c_str());
    route.SetField("sha256", sha256.c_str());
    auto line = std::make_unique<OGRLineString>();
    line->setNumPoints(int(drive.route.size()), FALSE);
    for (size_t i = 0; i < drive.route.size(); ++i)
        line->setPoint(int(i), drive.route[i].longitude, drive.route[i].latitude);
    route.SetGeometryDirectly(line.release());
    if (routes->CreateFeature(&route) != OGRERR_NONE) {
        error = GdalSupport::lastError("cannot write the route");
        return explained(error);
    }
    return true;
}

// A grown log's later part: its drive's row goes on where the map stopped
// reading, and its route gets a second line from there.
bool GpkgCoverageStore::update(DriveCoverage& drive, bool& already, std::string& error)
{
    const auto k = std::find_if(m_drives.begin(), m_drives.end(), [&drive](const KnownDrive& d) {
        return !d.logId.empty() && d.logId == drive.logId && d.logIdBytes == drive.logIdBytes;
    });
    if (k == m_drives.end()) {
        error = "the drive to update is not in the map";
        return false;
    }
    // Two files of one log in a run: the later part is taken from the first.
    already = k->bytesRead != drive.resumedFrom;
    if (already)
        return true;
    OGRLayer* drives = m_ds->GetLayerByName(kDrives);
    std::unique_ptr<OGRFeature> row(drives->GetFeature(k->fid));
    if (!row) {
        error = GdalSupport::lastError("cannot read the drive");
        return explained(error);
    }
    if (!drive.route.empty()) {
        const int iFirst = row->GetFieldIndex("first_time"), iLast = row->GetFieldIndex("last_time");
        const bool timed = row->IsFieldSetAndNotNull(iFirst);
        GdalSupport::setTime(*row, iFirst, timed ? std::min(GdalSupport::time(*row, iFirst), drive.firstMs) : drive.firstMs);
        GdalSupport::setTime(*row, iLast, timed ? std::max(GdalSupport::time(*row, iLast), drive.lastMs) : drive.lastMs);
    }
    for (const auto& [field, more] : {std::pair{"fixes_used", drive.fixesUsed}, std::pair{"samples_placed", drive.samplesPlaced},
                                     std::pair{"samples_binned", drive.samplesBinned}})
        row->SetField(field, GIntBig(uint64_t(row->GetFieldAsInteger64(field)) + more));
    row->SetField("bytes_read", GIntBig(drive.bytesRead));
    row->SetField("read_sha256", drive.readSha256.c_str());
    if (drives->SetFeature(row.get()) != OGRERR_NONE) {
        error = GdalSupport::lastError("cannot write the drive");
        return explained(error);
    }
    // The route's line keeps the drive's first hash, as the drive does.
    if (!addRoute(drive, row->GetFieldAsString("sha256"), error))
        return false;
    k->bytesRead = drive.bytesRead;
    k->readSha256 = drive.readSha256;
    m_cells.add(std::move(drive.cells), &m_changed);
    return true;
}

bool GpkgCoverageStore::writeCells(std::string& error)
{
    OGRLayer* cells = m_ds->GetLayerByName(kCells);
    OGRFeatureDefn* d = cells->GetLayerDefn();
    const int iRow = d->GetFieldIndex("row"), iCol = d->GetFieldIndex("col"), iRx = d->GetFieldIndex("receiver");
    const int iFreq = d->GetFieldIndex("frequency_mhz"), iCount = d->GetFieldIndex("count");
    const int iMin = d->GetFieldIndex("min_dbm"), iMax = d->GetFieldIndex("max_dbm");
    const int iP10 = d->GetFieldIndex("p10_dbm"), iMedian = d->GetFieldIndex("median_dbm");
    const int iP90 = d->GetFieldIndex("p90_dbm"), iMean = d->GetFieldIndex("mean_dbm");
    const int iDrives = d->GetFieldIndex("drives"), iHist = d->GetFieldIndex("histogram");
    const int iFirst = d->GetFieldIndex("first_time"), iLast = d->GetFieldIndex("last_time");
    // In cell order, so that neighbours sit together in the file.
    std::vector<const CoverageCells::Entry*>& rows = m_changed;
    std::sort(rows.begin(), rows.end(), [](const CoverageCells::Entry* a, const CoverageCells::Entry* b) {
        return std::tie(a->first.cell, a->first.receiver, a->first.frequency)
               < std::tie(b->first.cell, b->first.receiver, b->first.frequency);
    });
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    GpkgPackedIndex index(m_ds.get(), kCells);
    // Into a map that has rows, a row sent through the index's triggers
    // took 14 to 38 us, one packed again with all the others 1.7 us (a map
    // of 700k rows: 1.2 s); from a sixteenth of the map on, all is packed.
    const bool rebuild = !m_fids.empty() && rows.size() * 16 >= m_fids.size();
    if (!rows.empty() && (m_fids.empty() || rebuild))
        index.start(rebuild);
    // Rows in cell order share their cell's bounds.
    CoverageGrid::Cell boundsOf{-1, -1};
    CoverageGrid::Bounds b;
    const auto cellBounds = [this, &boundsOf, &b](CoverageGrid::Cell cell) -> const CoverageGrid::Bounds& {
        if (!(cell == boundsOf)) {
            boundsOf = cell;
            b = m_grid.bounds(cell);
        }
        return b;
    };
    // The rows of a new map take ids 1, 2, ... in this order, so the index
    // is packed on another thread while they go in. Into a map that has
    // rows, the entries of those rows are made meanwhile, and the new rows'
    // join them once written.
    const bool numbered = index.packing() && !index.rebuilding();
    if (index.rebuilding()) {
        index.gather([this](std::vector<PackedRtree::Entry>& entries) {
            entries.reserve(m_fids.size() + m_changed.size());
            for (const auto& [key, fid] : m_fids) {
                const CoverageGrid::Bounds c = m_grid.bounds(CoverageGrid::cellOfKey(key.cell));
                entries.push_back(PackedRtree::entry(fid, c.west, c.east, c.south, c.north));
            }
        });
    } else if (numbered) {
        std::vector<PackedRtree::Entry> entries;
        entries.reserve(rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            const CoverageGrid::Bounds& c = cellBounds(CoverageGrid::cellOfKey(rows[i]->first.cell));
            entries.push_back(PackedRtree::entry(int64_t(i) + 1, c.west, c.east, c.south, c.north));
        }
        index.pack(std::move(entries));
    }
    // One feature and one polygon for every row: each row sets every field
    // and moves the ring's corners.
    OGRFeature f(d);
    auto* ring = new OGRLinearRing();
    ring->setNumPoints(5, FALSE);
    auto* polygon = new OGRPolygon();
    polygon->addRingDirectly(ring);
    f.SetGeometryDirectly(polygon);
    std::string histogram;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& [key, r] = *rows[i];
        const CoverageGrid::Cell cell = CoverageGrid::cellOfKey(key.cell);
        const CellFigures fig = r.histogram.figures();
        const auto fid = m_fids.find(key);
        f.SetFID(numbered ? GIntBig(i) + 1 : fid == m_fids.end() ? OGRNullFID : fid->second);
        f.SetField(iRow, cell.row);
        f.SetField(iCol, cell.column);
        f.SetField(iRx, key.receiver + 1);
        f.SetField(iFreq, CoverageCells::frequencyMHz(key.frequency));
        f.SetField(iCount, GIntBig(fig.count));
        f.SetField(iMin, fig.minimum);
        f.SetField(iMax, fig.maximum);
        f.SetField(iP10, fig.p10);
        f.SetField(iMedian, fig.median);
        f.SetField(iP90, fig.p90);
        f.SetField(iMean, fig.mean);
        f.SetField(iDrives, int(r.drives));
        GdalSupport::setTime(f, iFirst, r.firstMs);
        GdalSupport::setTime(f, iLast, r.lastMs);
        r.histogram.text(histogram);
        f.SetField(iHist, histogram.c_str());
        cellBounds(cell);
        ring->setPoint(0, b.west, b.south);
        ring->setPoint(1, b.east, b.south);
        ring->setPoint(2, b.east, b.north);
        ring->setPoint(3, b.west, b.north);
        ring->setPoint(4, b.west, b.south);
        const OGRErr e = fid == m_fids.end() ? cells->CreateFeature(&f) : cells->SetFeature(&f);
        if (e != OGRERR_NONE) {
            error = GdalSupport::lastError("cannot write a cell");
            return false;
        }
        if (index.rebuilding() && fid == m_fids.end())
            index.add(PackedRtree::entry(f.GetFID(), b.west, b.east, b.south, b.north));
    }
    if (!index.finish(error))
        return false;
    m_changed.clear();
    m_changed.shrink_to_fit();
    // A new map's indexes are built once, over all its rows, not row by row.
    return GpkgPackedIndex::createWhereMissing(m_ds.get(), kCells, error)
           && GpkgPackedIndex::createWhereMissing(m_ds.get(), kRoutes, error);
}

bool GpkgCoverageStore::finish(std::string& error)
{
    if (!m_ds)
        return false;
    if (!writeCells(error))
        return explained(error);
    for (const std::string& sql : CoverageStyle::gpkgBest(m_settings.rangeMin, m_settings.rangeMax))
        if (!GdalSupport::execute(m_ds.get(), sql, error))
            return explained(error);
    // The cells' memory (a record and a histogram per row) goes back on
    // another thread while the file is committed and closed.
    m_cellRows = m_cells.size();
    const std::future<void> release = std::async(std::launch::async, [cells = std::move(m_cells), fids = std::move(m_fids)]() mutable {
        cells.clear();
        fids.clear();
    });
    m_cells.clear();
    m_fids.clear();
    m_inTransaction = false;
    if (m_ds->CommitTransaction() != OGRERR_NONE) {
        error = GdalSupport::lastError("cannot commit");
        return explained(error);
    }
    // Closing writes the spatial indexes and the file's extents.
    CPLErrorReset();
    m_ds.reset();
    if (CPLGetLastErrorType() >= CE_Failure) {
        error = GdalSupport::lastError("cannot close the file");
        return false;
    }
    return publish(error);
}

bool GpkgCoverageStore::publish(std::string& error)
{
    if (!m_making)
        return true;
    if (!GpkgFile::publish(m_file, m_path, error))
        return false;
    m_file.clear();
    return true;
}
