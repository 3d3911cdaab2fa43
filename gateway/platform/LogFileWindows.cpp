#include "gateway/platform/LogFile.h"

#include "gateway/platform/WindowsText.h"

#include <windows.h>

#include <stdexcept>

namespace gateway {

namespace {

// Appending only; others may read it and move it away while it is open.
HANDLE openForAppend(const std::string& path)
{
    return ::CreateFileW(widen(path).c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string lastErrorText()
{
    return "Windows error " + std::to_string(::GetLastError());
}

} // namespace

struct LogFile::Handle
{
    HANDLE file = INVALID_HANDLE_VALUE;
};

LogFile::LogFile(std::string path, const std::string& what)
    : m_path(std::move(path)), m_handle(std::make_unique<Handle>())
{
    m_handle->file = openForAppend(m_path);
    if (m_handle->file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot open the " + what + " " + m_path + ": " + lastErrorText());
    }
}

LogFile::~LogFile()
{
    ::CloseHandle(m_handle->file);
}

std::string LogFile::append(std::string_view record)
{
    std::string line(record);
    line += '\n';
    std::lock_guard lock(m_mutex);
    DWORD written = 0;
    if (!::WriteFile(m_handle->file, line.data(), static_cast<DWORD>(line.size()), &written,
                     nullptr)) {
        return lastErrorText();
    }
    if (written != line.size()) {
        return "only part of it could be written";
    }
    return {};
}

std::string LogFile::reopen()
{
    HANDLE file = openForAppend(m_path);
    if (file == INVALID_HANDLE_VALUE) {
        return lastErrorText();
    }
    std::lock_guard lock(m_mutex);
    ::CloseHandle(m_handle->file);
    m_handle->file = file;
    return {};
}

// Windows has no SIGHUP: the signal is never raised there.
ReopenRequest::ReopenRequest() = default;
ReopenRequest::~ReopenRequest() = default;

} // namespace gateway
