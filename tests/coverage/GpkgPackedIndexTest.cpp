// A packed spatial index written into real GeoPackages, and what happens
// when SQLite refuses it: the index is filled row by row and stays whole.
#include "coverage/GdalSupport.h"
#include "coverage/GpkgPackedIndex.h"

#include <gtest/gtest.h>

#include <cpl_conv.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>

namespace {

struct Box
{
    double west, east, south, north;
};

std::unique_ptr<GDALDataset> openForUpdate(const std::string& path)
{
    const char* drivers[] = {"GPKG", nullptr};
    return std::unique_ptr<GDALDataset>(
        GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers, nullptr, nullptr));
}

bool writeRow(OGRLayer* layer, GIntBig fid, const Box& b)
{
    OGRFeature f(layer->GetLayerDefn());
    f.SetFID(fid);
    auto* ring = new OGRLinearRing();
    ring->addPoint(b.west, b.south);
    ring->addPoint(b.east, b.south);
    ring->addPoint(b.east, b.north);
    ring->addPoint(b.west, b.north);
    ring->addPoint(b.west, b.south);
    auto* polygon = new OGRPolygon();
    polygon->addRingDirectly(ring);
    f.SetGeometryDirectly(polygon);
    return layer->CreateFeature(&f) == OGRERR_NONE;
}

std::string value(sqlite3* db, const std::string& sql)
{
    sqlite3_stmt* s = nullptr;
    std::string v = "(failed)";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
        v = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
    return v;
}

struct Case
{
    const char* legend;
    bool rebuild;   // the layer has rows and an index holding them
    bool refused;   // SQLite refuses direct writes to the index's tables
    const char* option; // TAVRIX_GPKG_PACKED_INDEX
    bool packs;     // the index is packed, not filled row by row
};

// Rows of a new layer (numbered, packed while they go in) or added to a
// filled one (packed again over all); SQLite's defensive mode makes it
// refuse the index's tables as another build or application may, after
// the rows went in with the triggers away. Each time SQLite finds the
// index whole, every row's entry encloses its polygon, GDAL's spatial
// filter finds what a scan finds, and the triggers keep a later change.
TEST(GpkgPackedIndex, IndexIsWholeWhetherPackedOrFilledAfterARefusal)
{
    const Case cases[] = {
        {"new layer, packed", false, false, nullptr, true},
        {"new layer, refused", false, true, nullptr, false},
        {"filled layer, packed again", true, false, nullptr, true},
        {"filled layer, refused", true, true, nullptr, false},
        {"packing switched off", true, false, "NO", false},
    };
    GdalSupport::init();
    std::string dir = (std::filesystem::temp_directory_path() / "packed-index-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(dir.data()));
    const struct Remove
    {
        std::string dir;
        ~Remove() { std::filesystem::remove_all(dir); }
    } remove{dir};
    constexpr int kBefore = 400, kAdded = 3000; // three levels of nodes
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string path = dir + "/" + std::to_string(++number) + ".gpkg";
        std::mt19937 random{unsigned(number)};
        std::uniform_real_distribution<double> place(0, 1);
        std::vector<Box> boxes(1); // by fid
        const auto nextBox = [&] {
            const double x = 7 + place(random) * 0.5, y = 45 + place(random) * 0.3;
            boxes.push_back({x, x + 0.0007, y, y + 0.00045});
            return boxes.back();
        };
        {
            GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
            std::unique_ptr<GDALDataset> ds(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
            ASSERT_TRUE(ds);
            const char* noIndex[] = {"SPATIAL_INDEX=NO", nullptr};
            OGRLayer* layer = ds->CreateLayer("cells", GdalSupport::wgs84(), wkbPolygon, const_cast<char**>(noIndex));
            ASSERT_TRUE(layer);
            std::string error;
            ASSERT_TRUE(GdalSupport::execute(ds.get(), "SELECT CreateSpatialIndex('cells', 'geom')", error)) << error;
            for (int i = 1; c.rebuild && i <= kBefore; ++i)
                ASSERT_TRUE(writeRow(layer, i, nextBox()));
        }
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        const std::string triggersOf = "SELECT group_concat(sql, ';') FROM (SELECT sql FROM sqlite_master"
                                       " WHERE type = 'trigger' AND name LIKE 'rtree_cells_geom%' ORDER BY name)";
        const std::string triggers = value(db, triggersOf);
        sqlite3_close(db);
        ASSERT_NE(triggers, "(failed)");
        CPLSetConfigOption("TAVRIX_GPKG_PACKED_INDEX", c.option);
        {
            std::unique_ptr<GDALDataset> ds = openForUpdate(path);
            ASSERT_TRUE(ds);
            OGRLayer* layer = ds->GetLayerByName("cells");
            ASSERT_EQ(ds->StartTransaction(), OGRERR_NONE);
            GpkgPackedIndex index(ds.get(), "cells");
            index.start(c.rebuild);
            EXPECT_EQ(index.packing(), c.option == nullptr);
            const size_t first = boxes.size();
            for (int i = 0; i < kAdded; ++i)
                nextBox();
            if (c.rebuild) {
                index.gather([&boxes, first](std::vector<PackedRtree::Entry>& entries) {
                    for (size_t id = 1; id < first; ++id)
                        entries.push_back(PackedRtree::entry(int64_t(id), boxes[id].west, boxes[id].east, boxes[id].south,
                                                             boxes[id].north));
                });
            }
            if (!c.rebuild && index.packing()) {
                std::vector<PackedRtree::Entry> entries;
                for (size_t id = first; id < boxes.size(); ++id)
                    entries.push_back(PackedRtree::entry(int64_t(id), boxes[id].west, boxes[id].east, boxes[id].south,
                                                         boxes[id].north));
                index.pack(std::move(entries));
            }
            for (size_t id = first; id < boxes.size(); ++id) {
                ASSERT_TRUE(writeRow(layer, GIntBig(id), boxes[id]));
                if (index.rebuilding())
                    index.add(PackedRtree::entry(int64_t(id), boxes[id].west, boxes[id].east, boxes[id].south,
                                                 boxes[id].north));
            }
            auto* db = static_cast<sqlite3*>(ds->GetInternalHandle("SQLITE_HANDLE"));
            ASSERT_TRUE(db);
            int on = 0;
            ASSERT_EQ(sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, c.refused ? 1 : 0, &on), SQLITE_OK);
            std::string error;
            ASSERT_TRUE(index.finish(error)) << error;
            EXPECT_EQ(index.fellBack().empty(), c.packs || c.option) << index.fellBack();
            // Through the triggers again: a row moved far off, one more row.
            boxes[1] = {-20, -19.999, -30, -29.999};
            const Box extra = nextBox();
            ASSERT_TRUE(writeRow(layer, GIntBig(boxes.size() - 1), extra));
            std::unique_ptr<OGRFeature> moved(layer->GetFeature(1));
            ASSERT_TRUE(moved);
            auto* ring = moved->GetGeometryRef()->toPolygon()->getExteriorRing();
            ring->setPoint(0, boxes[1].west, boxes[1].south);
            ring->setPoint(1, boxes[1].east, boxes[1].south);
            ring->setPoint(2, boxes[1].east, boxes[1].north);
            ring->setPoint(3, boxes[1].west, boxes[1].north);
            ring->setPoint(4, boxes[1].west, boxes[1].south);
            ASSERT_EQ(layer->SetFeature(moved.get()), OGRERR_NONE);
            ASSERT_EQ(ds->CommitTransaction(), OGRERR_NONE);
        }
        CPLSetConfigOption("TAVRIX_GPKG_PACKED_INDEX", nullptr);

        ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        const size_t rows = boxes.size() - 1;
        EXPECT_EQ(value(db, "SELECT rtreecheck('rtree_cells_geom')"), "ok");
        EXPECT_EQ(value(db, "SELECT count(*) FROM rtree_cells_geom"), std::to_string(rows));
        EXPECT_EQ(value(db, triggersOf), triggers);
        size_t enclosed = 0;
        sqlite3_stmt* s = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT id, minx, maxx, miny, maxy FROM rtree_cells_geom", -1, &s, nullptr),
                  SQLITE_OK);
        while (sqlite3_step(s) == SQLITE_ROW) {
            const Box& b = boxes.at(size_t(sqlite3_column_int64(s, 0)));
            enclosed += sqlite3_column_double(s, 1) <= b.west && sqlite3_column_double(s, 2) >= b.east
                        && sqlite3_column_double(s, 3) <= b.south && sqlite3_column_double(s, 4) >= b.north;
        }
        sqlite3_finalize(s);
        sqlite3_close(db);
        EXPECT_EQ(enclosed, rows);

        std::unique_ptr<GDALDataset> ds(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
        ASSERT_TRUE(ds);
        OGRLayer* layer = ds->GetLayerByName("cells");
        for (const Box& w : {Box{7.1, 7.2, 45.05, 45.1}, Box{-20.5, -19.5, -30.5, -29.5}, Box{7.4, 7.5, 45.2, 45.3}}) {
            size_t want = 0;
            for (size_t id = 1; id < boxes.size(); ++id)
                want += boxes[id].east >= w.west && boxes[id].west <= w.east && boxes[id].north >= w.south
                        && boxes[id].south <= w.north;
            layer->SetSpatialFilterRect(w.west, w.south, w.east, w.north);
            EXPECT_EQ(layer->GetFeatureCount(TRUE), GIntBig(want)) << w.west << "," << w.south;
            EXPECT_GT(want, 0u);
        }
    }
}

} // namespace
