#pragma once

#include "coverage/AcceptanceReport.h"

#include <string>

// The tiles of a report as a GeoPackage for QGIS: a polygon layer "tiles"
// (receiver, frequency_mhz, samples, value_dbm, tested, passed, state)
// styled by state, and a point layer "next" of the untested tiles' centres,
// the places to drive next. Written under a hidden name beside the target
// and put in its place by commit(), so an existing file is replaced only
// by a whole one; without commit() the hidden file goes away.
class AcceptanceTilesGpkg
{
public:
    static constexpr const char* kTiles = "tiles";
    static constexpr const char* kNext = "next";

    explicit AcceptanceTilesGpkg(std::string target);
    ~AcceptanceTilesGpkg();
    AcceptanceTilesGpkg(const AcceptanceTilesGpkg&) = delete;
    AcceptanceTilesGpkg& operator=(const AcceptanceTilesGpkg&) = delete;

    bool write(const AcceptanceReport& report, std::string& error);
    bool commit(std::string& error);

    static std::string qml();

private:
    std::string m_target;
    std::string m_temporary;
};
