#pragma once

#include "drive/DriveSample.h"

#include <optional>
#include <string>

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

    // The command-line options every drive tool takes: --receiver 1|2|both,
    // --frequency MHZ, --channel N.
    static bool isOption(const std::string& option);
    // Sets what the option chooses; false for a value it cannot take.
    bool setOption(const std::string& option, const std::string& value);

    // --range MIN,MAX: whole dBm within the limits, MIN below MAX.
    static bool parseRange(const std::string& text, int lowest, int highest, int& min, int& max);
};
