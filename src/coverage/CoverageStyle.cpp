#include "coverage/CoverageStyle.h"

#include "coverage/CoverageLayers.h"
#include "protocol/RssiPalette.h"

#include <algorithm>
#include <cstdio>

std::string CoverageStyle::qml(int rangeMin, int rangeMax)
{
    const RssiPalette palette(rangeMin, rangeMax);
    const int lo = std::min(rangeMin, rangeMax), hi = std::max(rangeMin, rangeMax);
    std::string ranges, symbols;
    char line[512];
    for (int dbm = lo, i = 0; dbm <= hi; ++dbm, ++i) {
        // Half-dB bounds: a median is a whole dBm and never falls on one.
        const double lower = dbm == lo ? -128.5 : dbm - 0.5;
        const double upper = dbm == hi ? 127.5 : dbm + 0.5;
        std::snprintf(line, sizeof line, "   <range lower=\"%.1f\" upper=\"%.1f\" symbol=\"%d\" label=\"%s%d dBm\" render=\"true\"/>\n",
                      lower, upper, i, dbm == lo ? "&lt;= " : dbm == hi ? "&gt;= " : "", dbm);
        ranges += line;
        const RssiPalette::Rgb c = palette.rgb(dbm);
        std::snprintf(line, sizeof line,
                      "   <symbol type=\"fill\" name=\"%d\" alpha=\"1\" clip_to_extent=\"1\" force_rhr=\"0\">\n"
                      "    <layer class=\"SimpleFill\" enabled=\"1\" locked=\"0\" pass=\"0\">\n"
                      "     <prop k=\"color\" v=\"%d,%d,%d,255\"/>\n"
                      "     <prop k=\"outline_style\" v=\"no\"/>\n"
                      "     <prop k=\"style\" v=\"solid\"/>\n"
                      "    </layer>\n"
                      "   </symbol>\n",
                      i, c.r, c.g, c.b);
        symbols += line;
    }
    return "<!DOCTYPE qgis PUBLIC 'http://mrcc.com/qgis.dtd' 'SYSTEM'>\n"
           "<qgis version=\"3.22.0\" styleCategories=\"Symbology\">\n"
           " <renderer-v2 type=\"graduatedSymbol\" attr=\"median_dbm\" graduatedMethod=\"GraduatedColor\""
           " symbollevels=\"0\" enableorderby=\"1\" forceraster=\"0\">\n"
           "  <ranges>\n"
           + ranges + "  </ranges>\n  <symbols>\n" + symbols
           + "  </symbols>\n"
             "  <orderby>\n   <orderByClause asc=\"1\" nullsFirst=\"1\">\"median_dbm\"</orderByClause>\n  </orderby>\n"
             " </renderer-v2>\n</qgis>\n";
}

std::string CoverageStyle::quoted(const std::string& text)
{
    std::string q = "'";
    for (char c : text) {
        if (c == '\'')
            q += '\'';
        q += c;
    }
    return q + "'";
}

std::string CoverageStyle::gpkgTable()
{
    return "CREATE TABLE IF NOT EXISTS layer_styles (id INTEGER PRIMARY KEY AUTOINCREMENT, f_table_catalog TEXT,"
           " f_table_schema TEXT, f_table_name TEXT, f_geometry_column TEXT, styleName TEXT, styleQML TEXT,"
           " styleSLD TEXT, useAsDefault BOOLEAN, description TEXT, owner TEXT, ui TEXT,"
           " update_time DATETIME DEFAULT CURRENT_TIMESTAMP)";
}

std::string CoverageStyle::gpkgRow(int rangeMin, int rangeMax)
{
    return std::string("INSERT INTO layer_styles (f_table_catalog, f_table_schema, f_table_name, f_geometry_column,"
                       " styleName, styleQML, styleSLD, useAsDefault, description) VALUES ('', '', '")
           + CoverageLayers::kCells + "', 'geom', " + quoted(kName) + ", " + quoted(qml(rangeMin, rangeMax))
           + ", '', 1, " + quoted("Cells coloured by median RSSI") + ")";
}

std::vector<std::string> CoverageStyle::gpkgBest(int rangeMin, int rangeMax)
{
    using namespace CoverageLayers;
    const std::string best = kBest, cells = kCells;
    // GDAL takes a view's integer column named OGC_FID as its feature id.
    return {"CREATE VIEW IF NOT EXISTS " + best
                + " AS SELECT fid AS OGC_FID, geom, row, col, receiver, frequency_mhz, count, min_dbm, max_dbm, p10_dbm,"
                  " median_dbm, p90_dbm, mean_dbm, drives, first_time, last_time FROM (SELECT *, row_number() OVER"
                  " (PARTITION BY row, col ORDER BY median_dbm DESC, count DESC, frequency_mhz, receiver) AS rank FROM "
                + cells + ") WHERE rank = 1",
            "INSERT OR IGNORE INTO gpkg_contents (table_name, data_type, identifier, description, srs_id) VALUES ('"
                + best + "', 'features', '" + best + "', "
                + quoted("The strongest row of each cell of the cells layer: highest median, then most samples")
                + ", 4326)",
            "INSERT OR IGNORE INTO gpkg_geometry_columns (table_name, column_name, geometry_type_name, srs_id, z, m)"
            " VALUES ('" + best + "', 'geom', 'POLYGON', 4326, 0, 0)",
            "INSERT INTO layer_styles (f_table_catalog, f_table_schema, f_table_name, f_geometry_column, styleName,"
            " styleQML, styleSLD, useAsDefault, description) SELECT '', '', '" + best + "', 'geom', "
                + quoted(kBestName) + ", " + quoted(qml(rangeMin, rangeMax)) + ", '', 1, "
                + quoted("Each cell coloured by its strongest median RSSI")
                + " WHERE NOT EXISTS (SELECT 1 FROM layer_styles WHERE f_table_name = '" + best + "')"};
}

std::string CoverageStyle::gpkgContents()
{
    return "INSERT INTO gpkg_contents (table_name, data_type, identifier) VALUES ('layer_styles', 'attributes',"
           " 'layer_styles')";
}

std::string CoverageStyle::pgTable()
{
    return "CREATE TABLE IF NOT EXISTS public.layer_styles (id serial PRIMARY KEY, f_table_catalog varchar,"
           " f_table_schema varchar, f_table_name varchar, f_geometry_column varchar, stylename text, styleqml xml,"
           " stylesld xml, useasdefault boolean, description text, owner varchar(63) DEFAULT CURRENT_USER, ui xml,"
           " update_time timestamp DEFAULT CURRENT_TIMESTAMP, type varchar)";
}

std::string CoverageStyle::pgRow(const std::string& schema, int rangeMin, int rangeMax)
{
    return pgStyleRow(schema, CoverageLayers::kCells, kName, "Cells coloured by median RSSI", rangeMin, rangeMax);
}

std::string CoverageStyle::pgBestRow(const std::string& schema, int rangeMin, int rangeMax)
{
    return pgStyleRow(schema, CoverageLayers::kBest, kBestName, "Each cell coloured by its strongest median RSSI",
                      rangeMin, rangeMax);
}

std::string CoverageStyle::pgStyleRow(const std::string& schema, const char* table, const char* name,
                                      const char* description, int rangeMin, int rangeMax)
{
    return std::string("INSERT INTO public.layer_styles (f_table_catalog, f_table_schema, f_table_name,"
                       " f_geometry_column, stylename, styleqml, useasdefault, description, type)"
                       " SELECT current_database(), ")
           + quoted(schema) + ", '" + table + "', 'geom', " + quoted(name) + ", " + "XMLPARSE(DOCUMENT "
           + quoted(qml(rangeMin, rangeMax)) + "), true, " + quoted(description)
           + ", 'Polygon' WHERE NOT EXISTS (SELECT 1 FROM public.layer_styles WHERE f_table_schema = " + quoted(schema)
           + " AND f_table_name = '" + table + "')";
}
