#include "gateway/platform/LocalClock.h"

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
    return localTimeOf(local, static_cast<int>((sinceEpoch - seconds).count()),
                       static_cast<int>(local.tm_gmtoff / 60));
}

} // namespace gateway
