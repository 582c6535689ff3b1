#pragma once

#include <cstdint>
#include <string>

class GDALDataset;
class OGRFeature;
class OGRSpatialReference;

// What the GeoPackage and PostGIS stores share of GDAL.
class GdalSupport
{
public:
    // Registers GDAL's drivers once.
    static void init();
    // GDAL's last error message, or fallback when it has none.
    static std::string lastError(const std::string& fallback);
    // Runs a statement that returns no rows; false with GDAL's message.
    static bool execute(GDALDataset* ds, const std::string& sql, std::string& error);
    // WGS 84, longitude first, as GIS files store it.
    static OGRSpatialReference* wgs84();
    static void setTime(OGRFeature& f, const char* field, int64_t ms);
    static void setTime(OGRFeature& f, int field, int64_t ms);
    static int64_t time(const OGRFeature& f, int field);
};
