#pragma once

#include <string>
#include <vector>

// The QGIS style stored with a coverage map, so that its cells open in QGIS
// coloured by median on the palette of the map and the export: one class
// per dB from the range's minimum to its maximum, the ends taking every
// level beyond them, cells without an outline.
class CoverageStyle
{
public:
    static constexpr const char* kName = "Median RSSI";
    static constexpr const char* kBestName = "Strongest median RSSI";

    // Cells with the strongest median drawn last, so that where receivers
    // and frequencies share a cell it shows its strongest, not the last row.
    static std::string qml(int rangeMin, int rangeMax);
    // The layer_styles table as QGIS makes it in a GeoPackage, and the row.
    static std::string gpkgTable();
    static std::string gpkgRow(int rangeMin, int rangeMax);
    // Lists the table among the GeoPackage's contents, where GDAL (and so QGIS) looks for it.
    static std::string gpkgContents();
    // The best view (each cell's strongest row: highest median, then most
    // samples), registered as a layer with its style; each statement leaves
    // what is there, so a map made before the view gets it at its next run.
    static std::vector<std::string> gpkgBest(int rangeMin, int rangeMax);
    // The same for PostgreSQL, where QGIS keeps it in public.layer_styles.
    static std::string pgTable();
    static std::string pgRow(const std::string& schema, int rangeMin, int rangeMax);
    // The best view's own default style, left as it is when the view has one.
    static std::string pgBestRow(const std::string& schema, int rangeMin, int rangeMax);
    // A text as an SQL string literal.
    static std::string quoted(const std::string& text);

private:
    static std::string pgStyleRow(const std::string& schema, const char* table, const char* name,
                                  const char* description, int rangeMin, int rangeMax);
};
