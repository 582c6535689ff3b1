#pragma once

#include "coverage/AcceptanceArea.h"
#include "coverage/AcceptanceSection.h"

#include <cstdint>
#include <string>
#include <vector>

// Everything an acceptance report says, for every output to write: the
// question asked, the drives that answer it, and one section per channel.
struct AcceptanceReport
{
    enum class Estimator { Median, P10, Lee };

    struct Drive
    {
        std::string fileName;
        std::string sha256;
        std::string serialNumber;
        int64_t firstMs = 0; // UTC, ms since 1970-01-01; 0 when unknown
        int64_t lastMs = 0;
        double distanceMetres = 0; // along the used fixes
        uint64_t samples = 0;      // placed samples binned into the map
    };

    // The question.
    double thresholdDbm = -95;
    double requiredReliability = 0.95; // 0..1
    double confidence = 0.90;          // 0..1, one-sided
    double tileMetres = 100;
    Estimator estimator = Estimator::Median;
    uint64_t minSamples = 36;
    double z = 0; // the normal quantile of the confidence

    // Where: the area file, or the driven tiles when none was given.
    std::string areaFile;     // empty: the area is the driven tiles
    AcceptanceArea area;
    std::vector<std::string> sources; // as named on the command line
    std::string createdUtc;           // ISO 8601, when the report was made

    std::vector<Drive> drives;
    std::vector<AcceptanceSection> sections; // in receiver, then frequency order

    bool areaGiven() const { return !areaFile.empty(); }
    static const char* estimatorName(Estimator e)
    {
        return e == Estimator::Median ? "median" : e == Estimator::P10 ? "p10" : "lee";
    }
};
