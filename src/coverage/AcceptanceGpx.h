#pragma once

#include "coverage/AcceptanceReport.h"

#include <string>

// The tiles still to test, as GPX 1.1 waypoints a navigation device takes:
// the centre of every untested tile of every section (a tile untested on
// several channels is one waypoint), named by its place in the grid.
class AcceptanceGpx
{
public:
    static std::string text(const AcceptanceReport& report);
};
