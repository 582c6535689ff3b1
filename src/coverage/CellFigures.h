#pragma once

#include <cstdint>

// What a cell's histogram says about the readings in it. Levels are whole
// dBm, so every figure but the mean is a reading that occurred.
struct CellFigures
{
    uint64_t count = 0;
    int minimum = 0; // dBm; the rest valid when count > 0
    int maximum = 0; // dBm
    int p10 = 0;     // dBm, nearest rank
    int median = 0;  // dBm, nearest rank (the lower middle of an even count)
    int p90 = 0;     // dBm, nearest rank
    double mean = 0; // dBm, the mean of the readings in dBm
};
