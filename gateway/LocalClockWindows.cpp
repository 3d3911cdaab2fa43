#include "gateway/LocalClock.h"

#include <ctime>

namespace gateway {

LocalTime localTimeAt(std::chrono::system_clock::time_point moment)
{
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<milliseconds>(moment.time_since_epoch());
    const auto seconds = floor<std::chrono::seconds>(sinceEpoch);
    const __time64_t whole = static_cast<__time64_t>(seconds.count());
    std::tm local{};
    ::_localtime64_s(&local, &whole);
    LocalTime time;
    time.year = local.tm_year + 1900;
    time.month = local.tm_mon + 1;
    time.day = local.tm_mday;
    time.hour = local.tm_hour;
    time.minute = local.tm_min;
    time.second = local.tm_sec;
    time.millisecond = static_cast<int>((sinceEpoch - seconds).count());
    // The C runtime keeps no offset with the local time: the local fields read as if they
    // were UTC, minus the moment itself, are the offset, daylight saving included.
    std::tm asUtc = local;
    time.offsetMinutes = static_cast<int>((::_mkgmtime64(&asUtc) - whole) / 60);
    return time;
}

} // namespace gateway
