#include "gateway/LocalClock.h"

#include <ctime>

namespace gateway {

LocalTime localTimeAt(std::chrono::system_clock::time_point moment)
{
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<milliseconds>(moment.time_since_epoch());
    // Whole seconds rounded down, so a moment before 1970 keeps a positive millisecond part.
    const auto seconds = floor<std::chrono::seconds>(sinceEpoch);
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm local{};
    ::localtime_r(&whole, &local);
    LocalTime time;
    time.year = local.tm_year + 1900;
    time.month = local.tm_mon + 1;
    time.day = local.tm_mday;
    time.hour = local.tm_hour;
    time.minute = local.tm_min;
    time.second = local.tm_sec;
    time.millisecond = static_cast<int>((sinceEpoch - seconds).count());
    time.offsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
    return time;
}

} // namespace gateway
