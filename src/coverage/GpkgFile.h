#pragma once

#include <string>

// Where a coverage map's GeoPackage lives on disk. A new map is made under
// a hidden temporary name beside its own and takes that name only once
// written whole, never over a map another run made meanwhile.
class GpkgFile
{
public:
    // A free name beside path, hidden, ending as GDAL wants a GeoPackage's
    // name to end; empty with the reason when the folder refuses.
    static std::string temporaryName(const std::string& path, std::string& error);
    // Gives file the name path unless something has it; false with the reason.
    static bool publish(const std::string& file, const std::string& path, std::string& error);
    // Removes a database file and the files SQLite keeps beside it.
    static void remove(const std::string& file);
    // Why an existing map cannot be written, before GDAL would call it "not
    // a GeoPackage": the file, or its folder, where SQLite keeps its journal.
    // Empty when it can.
    static std::string unwritable(const std::string& path);
    static std::string folderOf(const std::string& path);
};
