#include "gateway/platform/ProcessUsage.h"

#include "gateway/platform/WindowsTime.h"

#include <windows.h>

#include <psapi.h>

namespace gateway {

ProcessUsage processUsage()
{
    ProcessUsage usage;
    HANDLE self = ::GetCurrentProcess();
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (::GetProcessTimes(self, &created, &exited, &kernel, &user)) {
        usage.startedAt = systemTimeOf(created);
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
