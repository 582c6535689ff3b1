#pragma once

#include <cstdint>
#include <string>

// UTC instants as milliseconds since 1970-01-01, without the C library's
// time zone machinery (which reads the environment and is not thread-safe).
class UtcTime
{
public:
    // False when the fields do not name a real instant (month 13, 31 April,
    // hour 24, a year outside -32767 .. 32767). A leap second (second 60)
    // counts as the next second's start.
    static bool fromCivil(int year, int month, int day, int hours, int minutes, int seconds, int64_t& ms);
    // "2004-03-09T12:00:05.500Z"
    static std::string iso8601(int64_t ms);
    // Writes the same text into out (at least 32 bytes); returns its length.
    static int iso8601(int64_t ms, char* out);
};
