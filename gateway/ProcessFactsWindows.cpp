#include "gateway/ProcessFacts.h"

#include "gateway/WindowsText.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <knownfolders.h>
#include <psapi.h>
#include <shlobj.h>

#include <cstdio>

namespace gateway {

int localYearNow()
{
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    return local.wYear;
}

int startupShowState()
{
    STARTUPINFOW info{};
    info.cb = sizeof info;
    ::GetStartupInfoW(&info);
    return (info.dwFlags & STARTF_USESHOWWINDOW) != 0 ? info.wShowWindow : SW_SHOWNORMAL;
}

void useBinaryStandardStreams()
{
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

void notifyServiceManager(const char*) {}

std::optional<std::chrono::milliseconds> serviceWatchdogInterval()
{
    return std::nullopt;
}

bool serviceManagerShowsStatus()
{
    return false;
}

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

std::optional<std::uint64_t> raiseOpenFileLimit()
{
    return std::nullopt;
}

bool capAddressSpace(std::optional<std::uint64_t>)
{
    return false;
}

bool useParentConsole()
{
    // Redirected (a pipe, a file): the handles are there, and the C runtime has them.
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE) {
        return true;
    }
    // A windowed program gets no console of its own: it borrows the one it was started from.
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) {
        return false;
    }
    std::FILE* ignored = nullptr;
    ::freopen_s(&ignored, "CONOUT$", "w", stdout);
    ::freopen_s(&ignored, "CONOUT$", "w", stderr);
    return true;
}

std::string programDataFolder()
{
    // The shell's known folder rather than the environment: a service's environment may name
    // another (Wine's services see C:\users\Public as %ProgramData%), and the installer asks
    // the shell.
    PWSTR folder = nullptr;
    std::string path = "C:\\ProgramData";
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder))) {
        path = narrow(folder);
    }
    ::CoTaskMemFree(folder);
    return path;
}

std::string machineSettingsFile()
{
    return programDataFolder() + "\\velmor_snd\\velmor_snd.conf";
}

} // namespace gateway
