#include "UtcTime.h"

#include <cstdio>

namespace {

// Howard Hinnant's days-from-civil and its inverse: exact for every
// proleptic Gregorian date, no tables.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = int64_t(yoe) + era * 400 + (m <= 2);
}

bool leapYear(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

} // namespace

bool UtcTime::fromCivil(int year, int month, int day, int hours, int minutes, int seconds, int64_t& ms)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || hours < 0 || hours > 23 || minutes < 0 || minutes > 59
        || seconds < 0 || seconds > 60)
        return false;
    const int monthDays = kDays[month - 1] + (month == 2 && leapYear(year) ? 1 : 0);
    if (day > monthDays)
        return false;
    const int64_t days = daysFromCivil(year, unsigned(month), unsigned(day));
    ms = ((days * 24 + hours) * 60 + minutes) * 60000 + int64_t(seconds) * 1000;
    return true;
}

int UtcTime::iso8601(int64_t ms, char* out)
{
    int64_t days = ms / 86400000;
    int64_t rest = ms % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    const int h = int(rest / 3600000);
    const int mi = int(rest / 60000 % 60);
    const int s = int(rest / 1000 % 60);
    const int milli = int(rest % 1000);
    return std::snprintf(out, 32, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<long long>(y), m, d, h, mi, s,
                         milli);
}

std::string UtcTime::iso8601(int64_t ms)
{
    char text[32];
    const int n = iso8601(ms, text);
    return std::string(text, size_t(n));
}
