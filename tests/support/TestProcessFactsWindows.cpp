#include "support/TestProcessFacts.h"

#include <windows.h>

#include <psapi.h>

bool runningUnderWine()
{
    // Wine's ntdll exports its version; Windows' does not.
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::int64_t peakResidentKiB()
{
    PROCESS_MEMORY_COUNTERS counters{};
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) {
        return 0;
    }
    return static_cast<std::int64_t>(counters.PeakWorkingSetSize / 1024);
}

bool allowOpenSockets(std::uint64_t)
{
    // Windows has no per-process descriptor limit for sockets.
    return true;
}

bool allowNoFurtherFiles()
{
    return false;
}

bool capAddressSpace(std::optional<std::uint64_t>)
{
    return false;
}

bool deliverReopenSignal()
{
    return false;
}
