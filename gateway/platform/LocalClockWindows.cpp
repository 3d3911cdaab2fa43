#include "gateway/platform/LocalClock.h"

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
    // The C runtime keeps no offset with the local time: the local fields read as if they
    // were UTC, minus the moment itself, are the offset, daylight saving included.
    std::tm asUtc = local;
    const auto offsetSeconds = ::_mkgmtime64(&asUtc) - whole;
    return localTimeOf(local, static_cast<int>((sinceEpoch - seconds).count()),
                       static_cast<int>(offsetSeconds / 60));
}

} // namespace gateway
