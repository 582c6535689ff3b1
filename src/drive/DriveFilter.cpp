#include "DriveFilter.h"

#include <charconv>
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

namespace {

bool wholeNumber(const std::string& text, long& out)
{
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, out);
    return !text.empty() && r.ec == std::errc() && r.ptr == end;
}

bool realNumber(const std::string& text, double& out)
{
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, out);
    return !text.empty() && r.ec == std::errc() && r.ptr == end && std::isfinite(out);
}

} // namespace

bool DriveFilter::isOption(const std::string& option)
{
    return option == "--receiver" || option == "--frequency" || option == "--channel";
}

bool DriveFilter::setOption(const std::string& option, const std::string& value)
{
    if (option == "--receiver") {
        if (value == "1" || value == "2")
            receiver = value == "1" ? 0 : 1;
        else if (value == "both")
            receiver.reset();
        else
            return false;
        return true;
    }
    if (option == "--frequency") {
        double mhz = 0;
        if (!realNumber(value, mhz) || mhz <= 0)
            return false;
        frequencyMHz = mhz;
        return true;
    }
    if (option == "--channel") {
        long n = 0;
        if (!wholeNumber(value, n) || n < -32768 || n > 32767)
            return false;
        channel = int(n);
        return true;
    }
    return false;
}

bool DriveFilter::parseRange(const std::string& text, int lowest, int highest, int& min, int& max)
{
    const size_t comma = text.find(',');
    long lo = 0, hi = 0;
    if (comma == std::string::npos || !wholeNumber(text.substr(0, comma), lo) || !wholeNumber(text.substr(comma + 1), hi)
        || lo >= hi || lo < lowest || hi > highest)
        return false;
    min = int(lo);
    max = int(hi);
    return true;
}
