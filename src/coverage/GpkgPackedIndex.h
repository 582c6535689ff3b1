#pragma once

#include "coverage/PackedRtree.h"

#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

class GDALDataset;
struct sqlite3;

// A GeoPackage layer's spatial index packed in one pass (PackedRtree) and
// written straight into SQLite's R-tree tables, where GDAL would fill it
// row by row: before GDAL 3.8 every index, and in any release an index
// that already holds rows and gets many more. GDAL 3.8 on packs a new
// layer's index itself when CreateSpatialIndex runs over its rows.
//
// Rows go in with the index's triggers away; finish() writes the tree and
// puts them back, all inside the caller's transaction. Packing is only for
// speed: whatever fails on the way (SQLite refusing the index's tables, a
// layout not as expected) is undone to a savepoint and the index is filled
// from the rows through SQLite's own inserts, as GDAL's CreateSpatialIndex
// fills it. The run fails only when that fails too.
class GpkgPackedIndex
{
public:
    GpkgPackedIndex(GDALDataset* ds, std::string layer); // the layer's geometry column is "geom"
    ~GpkgPackedIndex();
    GpkgPackedIndex(const GpkgPackedIndex&) = delete;
    GpkgPackedIndex& operator=(const GpkgPackedIndex&) = delete;

    // Whether a new layer's index is to be packed here: where GDAL would
    // not. The configuration option TAVRIX_GPKG_PACKED_INDEX=NO leaves all
    // indexes to GDAL, YES packs them here whatever GDAL's release.
    static bool packsNewIndex();
    // Makes a layer's index where it has none, over all its rows: GDAL's
    // own way, which packs it from 3.8 on.
    static bool createWhereMissing(GDALDataset* ds, const std::string& layer, std::string& error);

    // Takes the triggers away when the index can be packed: it has no
    // entries yet, or rebuild (its entries are emptied and all rows packed).
    // Otherwise, or when anything on the way fails, the rows go in through
    // the triggers, as the index's layout is as it was.
    void start(bool rebuild);
    bool packing() const { return m_nodeBytes > 0; }
    bool rebuilding() const { return m_rebuild; }

    // The entries of all rows, known before they are written (a new
    // layer's, numbered 1, 2, ... in writing order): packed on another
    // thread meanwhile.
    void pack(std::vector<PackedRtree::Entry> entries);
    // When rebuilding: the rows already there, gathered on another thread,
    // and each row written meanwhile.
    void gather(std::function<void(std::vector<PackedRtree::Entry>&)> existing);
    void add(const PackedRtree::Entry& entry) { m_added.push_back(entry); }

    // Writes the index and puts the triggers back; false with the reason
    // only when neither the packed tree nor SQLite's inserts could fill it.
    bool finish(std::string& error);
    // Why the last finish() filled the index row by row; empty when packed.
    const std::string& fellBack() const { return m_fellBack; }

private:
    bool write(const PackedRtree& tree, std::string& error);
    bool fillRowByRow(std::string& error);
    bool exec(const std::string& sql, std::string& error) const;
    void deferGdalsIndexUpdate(bool on);

    GDALDataset* m_ds;
    std::string m_layer;
    std::string m_rtree; // the index's virtual table
    sqlite3* m_db = nullptr; // GDAL's connection to the file
    size_t m_nodeBytes = 0; // 0: not packing
    bool m_rebuild = false;
    bool m_deferred = false;
    std::vector<std::string> m_triggers; // taken away meanwhile, made again after
    std::future<void> m_packer; // the packing or gathering task, waited for by finish()
    std::vector<PackedRtree::Entry> m_gathered;
    std::vector<PackedRtree::Entry> m_added;
    std::optional<PackedRtree> m_tree; // what pack() made
    std::string m_fellBack;
};
