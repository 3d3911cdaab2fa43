#include "gateway/platform/ProcessUsage.h"

#include <windows.h>

#include <psapi.h>

namespace gateway {

namespace {

// FILETIME counts 100 ns steps from 1601-01-01; the system clock counts from 1970-01-01.
std::chrono::system_clock::time_point fromFileTime(const FILETIME& time)
{
    constexpr std::uint64_t stepsFrom1601To1970 = 116444736000000000ULL;
    const std::uint64_t steps =
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    const auto since1970 = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>(
        static_cast<std::int64_t>(steps - stepsFrom1601To1970));
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(since1970));
}

} // namespace

ProcessUsage processUsage()
{
    ProcessUsage usage;
    HANDLE self = ::GetCurrentProcess();
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (::GetProcessTimes(self, &created, &exited, &kernel, &user)) {
        usage.startedAt = fromFileTime(created);
    }
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (::K32GetProcessMemoryInfo(self, &memory, sizeof memory)) {
        usage.residentBytes = memory.WorkingSetSize;
    }
    DWORD handles = 0;
    // Wine answers 0, which no live process has: unknown rather than wrong.
    if (::GetProcessHandleCount(self, &handles) && handles > 0) {
        usage.openDescriptors = handles;
    }
    return usage;
}

} // namespace gateway
