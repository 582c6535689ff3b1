#pragma once

#include <cstdint>
#include <string>

// The texts the status fields show, built without widgets.
class StatusTexts
{
public:
    // Shortest general form with at most 15 significant digits, no exponent
    // for band limits, with the given decimal separator: 400, 6.25, 162.0125.
    static std::string limitText(long double value, char decimalPoint);
    // "Mrkr #n" with n = marker modulo 100.
    static std::string markerText(int marker);
    static std::string serialText(const std::string& serialNumber);
    static std::string fileSizeText(int32_t kiloBytes);
};
