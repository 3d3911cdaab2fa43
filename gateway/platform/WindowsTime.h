#pragma once

// Windows' FILETIME as the system clock's time; for the Windows platform sources only.

#include <windows.h>

#include <chrono>
#include <cstdint>

namespace gateway {

// FILETIME counts 100 ns steps from 1601-01-01 UTC; the system clock counts from 1970-01-01.
inline std::chrono::system_clock::time_point systemTimeOf(const FILETIME& time)
{
    constexpr std::int64_t stepsFrom1601To1970 = 116444736000000000LL;
    const auto steps = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    using Steps = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            Steps(steps - stepsFrom1601To1970)));
}

} // namespace gateway
