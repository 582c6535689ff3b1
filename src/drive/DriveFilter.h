#pragma once

#include "drive/DriveSample.h"

#include <optional>

// Which samples a reader of a drive wants. The summary counts only these.
class DriveFilter
{
public:
    // A frequency matches within half a kilohertz: below every channel step in use.
    static constexpr double kFrequencyToleranceMHz = 0.0005;

    std::optional<int> receiver;       // 0 or 1; none: both
    std::optional<double> frequencyMHz;
    std::optional<int> channel;

    bool matches(const DriveSample& sample) const;
};
