#pragma once

#include "coverage/CoverageGrid.h"

#include <cstdint>

// One tile of an acceptance test: a cell of the coverage grid at the tile
// size, with the samples it holds and whether it reached the threshold.
struct AcceptanceTile
{
    enum class State : uint8_t {
        Passed,    // tested, value at or above the threshold
        Failed,    // tested, value below it
        Untested,  // driven, but with fewer samples than a test needs
        NotDriven, // in the area, no sample at all
    };

    int64_t key = 0;             // CoverageGrid::key at the tile size
    CoverageGrid::Bounds bounds; // degrees
    double latitude = 0;         // of the centre, degrees
    double longitude = 0;
    uint64_t samples = 0;
    double valueDbm = 0; // the estimator's value; meaningful when tested
    State state = State::NotDriven;

    bool tested() const { return state == State::Passed || state == State::Failed; }
};
