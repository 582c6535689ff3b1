#include "UtcTime.h"

#include <chrono>
#include <cstdio>

namespace {
using namespace std::chrono;
constexpr int64_t kMsPerDay = 86400000;
} // namespace

bool UtcTime::fromCivil(int year, int month, int day, int hours, int minutes, int seconds, int64_t& ms)
{
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 60)
        return false;
    // std::chrono::year holds -32767 .. 32767; a wider int would wrap into it.
    if (year < int(std::chrono::year::min()) || year > int(std::chrono::year::max()) || month < 1 || day < 1)
        return false;
    const year_month_day date{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                              std::chrono::day{unsigned(day)}};
    if (!date.ok())
        return false;
    const int64_t days = sys_days{date}.time_since_epoch().count();
    ms = ((days * 24 + hours) * 60 + minutes) * 60000 + int64_t(seconds) * 1000;
    return true;
}

int UtcTime::iso8601(int64_t ms, char* out)
{
    // Days and the time of day, the day rounded down for instants before 1970.
    int64_t days = ms / kMsPerDay;
    int64_t rest = ms % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --days;
    }
    const year_month_day date{sys_days{std::chrono::days{days}}};
    const int h = int(rest / 3600000);
    const int mi = int(rest / 60000 % 60);
    const int s = int(rest / 1000 % 60);
    const int milli = int(rest % 1000);
    return std::snprintf(out, 32, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()), unsigned(date.month()),
                         unsigned(date.day()), h, mi, s, milli);
}

std::string UtcTime::iso8601(int64_t ms)
{
    char text[32];
    const int n = iso8601(ms, text);
    return std::string(text, size_t(n));
}
