#pragma once

#include <ctime>
#include <string>

namespace gateway {

// A moment on the local calendar and clock, with how far that is from UTC.
struct LocalTime
{
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    // Local time minus UTC: +60 for 01:00 ahead, -330 for 05:30 behind.
    int offsetMinutes = 0;
};

// The local time the C library's calendar fields give, with the milliseconds and offset beside.
LocalTime localTimeOf(const std::tm& calendar, int millisecond, int offsetMinutes);

// ISO 8601 with milliseconds and the offset, as records are stamped:
// "2026-12-10T19:45:02.123+01:00" (UTC itself as "+00:00").
std::string isoTimestamp(const LocalTime& time);

} // namespace gateway
