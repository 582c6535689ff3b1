#pragma once

#include "coverage/AcceptanceFigures.h"

#include <cstdint>

// The binomial arithmetic of an acceptance test. Tiles pass or fail
// independently with some probability, the area reliability; the share of
// passing tiles estimates it, and the Wilson score interval bounds it. Unlike
// the plain normal interval, Wilson's stays within 0..1 and keeps a useful
// width when every tile passes, which is the case an acceptance test hopes for.
class AcceptanceStatistics
{
public:
    struct Bounds
    {
        double lower = 0;
        double upper = 1;
    };

    // The quantile of the standard normal distribution: z with P(Z <= z) = p,
    // 0 < p < 1, to full double precision.
    static double normalQuantile(double p);
    // The Wilson score interval of `passed` out of `tested` at z; a rate
    // stands in for passed/tested so that a rate can be carried to larger
    // samples. Nothing tested bounds nothing: 0..1.
    static Bounds wilson(double rate, double tested, double z);
    static Bounds wilson(uint64_t passed, uint64_t tested, double z);
    // Fills reliability, bounds, verdict and tiles needed from the counts
    // already in `figures`; required is 0..1.
    static void decide(AcceptanceFigures& figures, double required, double z);
    // More tested tiles, passing at `rate`, after which the verdict is
    // decided; 0 when none would decide it.
    static uint64_t tilesNeeded(double rate, uint64_t tested, double required, double z);
};
