#pragma once

#include <cstdint>
#include <optional>

// The answer of an acceptance test over one area: how many tiles passed
// among those tested, the area reliability with its Wilson score bounds,
// and the verdict against the required reliability.
struct AcceptanceFigures
{
    enum class Verdict { Pass, Fail, Inconclusive };

    uint64_t tilesInArea = 0;
    uint64_t tilesTested = 0;
    uint64_t tilesPassed = 0;
    uint64_t tilesUntested = 0;  // in the area, not tested (not driven included)
    uint64_t tilesNotDriven = 0; // of those, without a single sample
    double reliability = 0;      // passed / tested, 0..1; 0 when none tested
    double lowerBound = 0;       // Wilson score, one-sided at the confidence
    double upperBound = 1;
    Verdict verdict = Verdict::Inconclusive;
    // Inconclusive: how many more tested tiles, passing at the same rate,
    // would decide it; none when no number would (the rate equals the
    // requirement, or nothing was tested).
    std::optional<uint64_t> tilesNeeded;

    static const char* verdictText(Verdict v)
    {
        return v == Verdict::Pass ? "PASS" : v == Verdict::Fail ? "FAIL" : "INCONCLUSIVE";
    }
};
