#include "coverage/AcceptanceTilesGpkg.h"

#include "coverage/CoverageStyle.h"
#include "coverage/GdalSupport.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace {

const char* stateName(AcceptanceTile::State s)
{
    switch (s) {
    case AcceptanceTile::State::Passed:
        return "passed";
    case AcceptanceTile::State::Failed:
        return "failed";
    case AcceptanceTile::State::Untested:
        return "untested";
    case AcceptanceTile::State::NotDriven:
        return "not driven";
    }
    return "";
}

bool addField(OGRLayer* layer, const char* name, OGRFieldType type, std::string& error,
              OGRFieldSubType subtype = OFSTNone)
{
    OGRFieldDefn field(name, type);
    field.SetSubType(subtype);
    if (layer->CreateField(&field) == OGRERR_NONE)
        return true;
    error = GdalSupport::lastError(std::string("cannot add field ") + name);
    return false;
}

} // namespace

AcceptanceTilesGpkg::AcceptanceTilesGpkg(std::string target) : m_target(std::move(target)) {}

AcceptanceTilesGpkg::~AcceptanceTilesGpkg()
{
    if (!m_temporary.empty())
        std::remove(m_temporary.c_str());
}

std::string AcceptanceTilesGpkg::qml()
{
    struct Category
    {
        const char* value;
        const char* colour;
        const char* style;
    };
    // The report's own colours: passed green, failed red, untested grey hatched.
    const Category categories[] = {{"passed", "46,160,67,200", "solid"},
                                   {"failed", "214,39,40,200", "solid"},
                                   {"untested", "128,128,128,255", "b_diagonal"},
                                   {"not driven", "190,190,190,255", "b_diagonal"}};
    std::string cats, symbols;
    char line[640];
    for (size_t i = 0; i < std::size(categories); ++i) {
        std::snprintf(line, sizeof line, "   <category value=\"%s\" symbol=\"%zu\" label=\"%s\" render=\"true\"/>\n",
                      categories[i].value, i, categories[i].value);
        cats += line;
        std::snprintf(line, sizeof line,
                      "   <symbol type=\"fill\" name=\"%zu\" alpha=\"1\" clip_to_extent=\"1\" force_rhr=\"0\">\n"
                      "    <layer class=\"SimpleFill\" enabled=\"1\" locked=\"0\" pass=\"0\">\n"
                      "     <prop k=\"color\" v=\"%s\"/>\n"
                      "     <prop k=\"outline_color\" v=\"255,255,255,120\"/>\n"
                      "     <prop k=\"style\" v=\"%s\"/>\n"
                      "    </layer>\n"
                      "   </symbol>\n",
                      i, categories[i].colour, categories[i].style);
        symbols += line;
    }
    return "<!DOCTYPE qgis PUBLIC 'http://mrcc.com/qgis.dtd' 'SYSTEM'>\n"
           "<qgis version=\"3.22.0\" styleCategories=\"Symbology\">\n"
           " <renderer-v2 type=\"categorizedSymbol\" attr=\"state\" symbollevels=\"0\" enableorderby=\"0\""
           " forceraster=\"0\">\n  <categories>\n"
           + cats + "  </categories>\n  <symbols>\n" + symbols + "  </symbols>\n </renderer-v2>\n</qgis>\n";
}

bool AcceptanceTilesGpkg::write(const AcceptanceReport& report, std::string& error)
{
    GdalSupport::init();
    namespace fs = std::filesystem;
    const fs::path target(m_target);
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
    std::string pattern = folder + "/." + target.filename().string() + ".XXXXXX.gpkg";
    const int fd = ::mkstemps(pattern.data(), 5);
    if (fd < 0) {
        error = std::string("cannot create a file beside it: ") + std::strerror(errno);
        return false;
    }
    ::close(fd);
    m_temporary = pattern;
    std::remove(m_temporary.c_str()); // GDAL makes the file itself; the name is ours

    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
    if (!driver) {
        error = "GDAL has no GeoPackage driver";
        return false;
    }
    std::unique_ptr<GDALDataset> ds(driver->Create(m_temporary.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!ds) {
        error = GdalSupport::lastError("cannot create the file");
        return false;
    }
    OGRLayer* tiles = ds->CreateLayer(kTiles, GdalSupport::wgs84(), wkbPolygon, nullptr);
    OGRLayer* next = ds->CreateLayer(kNext, GdalSupport::wgs84(), wkbPoint, nullptr);
    if (!tiles || !next) {
        error = GdalSupport::lastError("cannot create the layers");
        return false;
    }
    bool ok = addField(tiles, "receiver", OFTInteger, error) && addField(tiles, "frequency_mhz", OFTReal, error)
              && addField(tiles, "samples", OFTInteger64, error) && addField(tiles, "value_dbm", OFTReal, error)
              && addField(tiles, "tested", OFTInteger, error, OFSTBoolean)
              && addField(tiles, "passed", OFTInteger, error, OFSTBoolean) && addField(tiles, "state", OFTString, error)
              && addField(next, "receiver", OFTInteger, error) && addField(next, "frequency_mhz", OFTReal, error)
              && addField(next, "samples", OFTInteger64, error) && addField(next, "name", OFTString, error);
    if (!ok)
        return false;
    if (ds->StartTransaction() != OGRERR_NONE) {
        error = GdalSupport::lastError("cannot start a transaction");
        return false;
    }
    for (const AcceptanceSection& s : report.sections)
        for (const AcceptanceTile& t : s.tiles) {
            OGRFeature f(tiles->GetLayerDefn());
            f.SetField("receiver", s.receiver);
            f.SetField("frequency_mhz", s.frequencyMHz);
            f.SetField("samples", GIntBig(t.samples));
            if (t.tested())
                f.SetField("value_dbm", t.valueDbm);
            f.SetField("tested", t.tested() ? 1 : 0);
            f.SetField("passed", t.state == AcceptanceTile::State::Passed ? 1 : 0);
            f.SetField("state", stateName(t.state));
            OGRLinearRing ring;
            ring.addPoint(t.bounds.west, t.bounds.south);
            ring.addPoint(t.bounds.east, t.bounds.south);
            ring.addPoint(t.bounds.east, t.bounds.north);
            ring.addPoint(t.bounds.west, t.bounds.north);
            ring.closeRings();
            OGRPolygon polygon;
            polygon.addRing(&ring);
            f.SetGeometry(&polygon);
            if (tiles->CreateFeature(&f) != OGRERR_NONE) {
                error = GdalSupport::lastError("cannot write a tile");
                return false;
            }
            if (t.tested())
                continue;
            OGRFeature p(next->GetLayerDefn());
            p.SetField("receiver", s.receiver);
            p.SetField("frequency_mhz", s.frequencyMHz);
            p.SetField("samples", GIntBig(t.samples));
            const CoverageGrid::Cell c = CoverageGrid::cellOfKey(t.key);
            p.SetField("name", ("T" + std::to_string(c.row) + "-" + std::to_string(c.column)).c_str());
            OGRPoint point(t.longitude, t.latitude);
            p.SetGeometry(&point);
            if (next->CreateFeature(&p) != OGRERR_NONE) {
                error = GdalSupport::lastError("cannot write a point to drive next");
                return false;
            }
        }
    const std::string style = "INSERT INTO layer_styles (f_table_catalog, f_table_schema, f_table_name,"
                              " f_geometry_column, styleName, styleQML, styleSLD, useAsDefault, description)"
                              " VALUES ('', '', '"
                              + std::string(kTiles) + "', 'geom', 'Acceptance', " + CoverageStyle::quoted(qml())
                              + ", '', 1, 'Tiles by their test result')";
    if (!GdalSupport::execute(ds.get(), CoverageStyle::gpkgTable(), error)
        || !GdalSupport::execute(ds.get(), CoverageStyle::gpkgContents(), error)
        || !GdalSupport::execute(ds.get(), style, error))
        return false;
    if (ds->CommitTransaction() != OGRERR_NONE) {
        error = GdalSupport::lastError("cannot write the file");
        return false;
    }
    // Closing writes what GDAL still holds; it reports a failure only as its last error.
    CPLErrorReset();
    ds.reset();
    if (CPLGetLastErrorType() >= CE_Failure) {
        error = GdalSupport::lastError("cannot close the file");
        return false;
    }
    return true;
}

bool AcceptanceTilesGpkg::commit(std::string& error)
{
    if (std::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        error = std::string("cannot put it in place: ") + std::strerror(errno);
        return false;
    }
    m_temporary.clear();
    return true;
}
