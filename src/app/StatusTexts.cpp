#include "StatusTexts.h"

#include <cstdio>

std::string StatusTexts::limitText(long double value, char decimalPoint)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.15Lg", value);
    std::string s(text);
    for (char& c : s) {
        if (c == '.')
            c = decimalPoint;
    }
    return s;
}

std::string StatusTexts::markerText(int marker)
{
    int n = marker % 100;
    if (n < 0)
        n += 100;
    return "Mrkr #" + std::to_string(n);
}

std::string StatusTexts::serialText(const std::string& serialNumber)
{
    return "SN: " + serialNumber;
}

std::string StatusTexts::fileSizeText(int32_t kiloBytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%ld kB", static_cast<long>(kiloBytes));
    return text;
}
