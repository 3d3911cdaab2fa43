#include "gateway/platform/AppendHandle.h"

#include "gateway/platform/WindowsText.h"

#include <windows.h>

namespace gateway {

namespace {

HANDLE handleOf(std::intptr_t native)
{
    return reinterpret_cast<HANDLE>(native);
}

} // namespace

AppendHandle AppendHandle::open(const std::string& path, std::string& reason)
{
    // Sharing delete lets the file be moved aside (by this program too) while it is open.
    HANDLE file = ::CreateFileW(widen(path).c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = "Windows error " + std::to_string(::GetLastError());
        return {};
    }
    return AppendHandle(reinterpret_cast<std::intptr_t>(file));
}

void AppendHandle::close()
{
    if (isOpen()) {
        ::CloseHandle(handleOf(m_native));
        m_native = closed;
    }
}

std::string AppendHandle::write(std::string_view bytes)
{
    DWORD written = 0;
    if (!::WriteFile(handleOf(m_native), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr)) {
        return "Windows error " + std::to_string(::GetLastError());
    }
    if (written != bytes.size()) {
        return "only part of it could be written";
    }
    return {};
}

} // namespace gateway
