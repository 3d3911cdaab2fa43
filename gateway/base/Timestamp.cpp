#include "gateway/base/Timestamp.h"

#include <cstdio>
#include <cstdlib>

namespace gateway {

LocalTime localTimeOf(const std::tm& calendar, int millisecond, int offsetMinutes)
{
    return {calendar.tm_year + 1900, calendar.tm_mon + 1, calendar.tm_mday, calendar.tm_hour,
            calendar.tm_min,         calendar.tm_sec,     millisecond,      offsetMinutes};
}

std::string isoTimestamp(const LocalTime& time)
{
    const int offset = std::abs(time.offsetMinutes);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", time.year,
                  time.month, time.day, time.hour, time.minute, time.second, time.millisecond,
                  time.offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

} // namespace gateway
