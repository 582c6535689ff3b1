#pragma once

#include <string>

// A PostgreSQL coverage map named as GDAL names one: "PG:" and libpq's
// connection text ("PG:dbname=fleet host=office", or a postgresql:// URI).
class PgSource
{
public:
    static constexpr const char* kPrefix = "PG:";

    static bool is(const std::string& source);
    // libpq's connection text, without the prefix.
    static std::string conninfo(const std::string& source);
    // The source as it may be shown and kept: a window title, an error on
    // standard error, the settings. A password given in it stays out.
    static std::string shown(const std::string& source);
};
