#pragma once

#include "coverage/AcceptanceTile.h"

#include <optional>
#include <string>
#include <vector>

// Where the crew should head next: the tile of the area nearest to the
// vehicle that has not a single sample yet, measured to the tile's centre
// along the great circle, with the initial bearing as a compass point.
// Tiles driven too briefly to be tested are not sought: driving on past
// them tests them sooner than a detour.
class NearestUndriven
{
public:
    struct Answer
    {
        int64_t key = 0;        // CoverageGrid::key of the tile
        double latitude = 0;    // its centre, degrees
        double longitude = 0;
        double metres = 0;      // great-circle distance from the place
        double bearingDeg = 0;  // initial bearing, 0 north, clockwise, [0, 360)
        std::string compass;    // one of the eight points, "N" to "NW"
    };

    // Mean Earth radius, as the report measures a route with.
    static constexpr double kEarthRadiusMetres = 6'371'008.8;

    // None when no tile is undriven.
    static std::optional<Answer> find(const std::vector<AcceptanceTile>& tiles, double latitude, double longitude);

    static double metres(double lat1, double lon1, double lat2, double lon2);
    static double bearingDegrees(double lat1, double lon1, double lat2, double lon2);
    // Eight points of 45° each, centred on their direction: N is 337.5° up to 22.5°.
    static const char* compass(double bearingDeg);
};
