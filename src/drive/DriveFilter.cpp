#include "DriveFilter.h"

#include <cmath>

bool DriveFilter::matches(const DriveSample& sample) const
{
    if (receiver && *receiver != sample.receiver)
        return false;
    if (frequencyMHz && !(std::fabs(sample.frequencyMHz - *frequencyMHz) < kFrequencyToleranceMHz))
        return false;
    if (channel && *channel != sample.channel)
        return false;
    return true;
}
