#pragma once

// What the service's Windows files share: the system's words for an error, and this program's
// own file. For the Windows sources of server/ only.

#include "gateway/platform/WindowsText.h"

#include <windows.h>

#include <stdexcept>
#include <string>

namespace server {

// "Windows error 5: Access is denied."
inline std::string systemMessage(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length > 0 ? gateway::narrow({text, length}) : std::string();
    ::LocalFree(text);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return "Windows error " + std::to_string(error) + (message.empty() ? "" : ": " + message);
}

// The full path of this program's file. Throws std::runtime_error with the system's reason.
inline std::wstring programPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            throw std::runtime_error("cannot find the program's own path: " +
                                     systemMessage(::GetLastError()));
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace server
