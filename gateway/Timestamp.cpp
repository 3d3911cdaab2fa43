#include "gateway/Timestamp.h"

#include <cstdio>
#include <cstdlib>

namespace gateway {

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
