#include "gateway/platform/ProcessFacts.h"

#include "gateway/platform/WindowsText.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <knownfolders.h>
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

bool windowsSystem()
{
    return true;
}

std::optional<std::uint64_t> raiseOpenFileLimit()
{
    return std::nullopt;
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
