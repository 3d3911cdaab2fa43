#include "server/EventLog.h"

#include "gateway/platform/WindowsText.h"
#include "server/WindowsSystem.h"

#include <windows.h>

// Made by windmc from EventMessages.mc in the build tree.
#include "EventMessages.h"

#include <stdexcept>
#include <type_traits>

using namespace gateway;

namespace server {

namespace {

const wchar_t* const sourceName = L"velmor_sndd";
const wchar_t* const sourceKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\velmor_sndd";

// An event's ID is the number of its message in the table.
static_assert(static_cast<DWORD>(EventId::Service) == VELMOR_EVENT_SERVICE);
static_assert(static_cast<DWORD>(EventId::Link) == VELMOR_EVENT_LINK);
static_assert(static_cast<DWORD>(EventId::Refusal) == VELMOR_EVENT_REFUSAL);
static_assert(static_cast<DWORD>(EventId::Files) == VELMOR_EVENT_FILES);
static_assert(static_cast<DWORD>(EventId::Settings) == VELMOR_EVENT_SETTINGS);
static_assert(static_cast<DWORD>(EventId::Status) == VELMOR_EVENT_STATUS);

// The most characters ReportEvent takes in one string.
constexpr std::size_t longestText = 31839;

WORD eventType(EventLevel level)
{
    switch (level) {
    case EventLevel::Error:
        return EVENTLOG_ERROR_TYPE;
    case EventLevel::Warning:
        return EVENTLOG_WARNING_TYPE;
    case EventLevel::Information:
        break;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

std::string refusal(DWORD error)
{
    return "cannot report to the Application event log: " + systemMessage(error);
}

struct CloseKey
{
    void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using KeyHandle = std::unique_ptr<std::remove_pointer_t<HKEY>, CloseKey>;

void check(LSTATUS status, const char* what)
{
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error(std::string(what) + ": " +
                                 systemMessage(static_cast<DWORD>(status)));
    }
}

} // namespace

void EventLog::Deregister::operator()(void* source) const
{
    ::DeregisterEventSource(source);
}

EventLog EventLog::open()
{
    EventLog log;
    log.m_source.reset(::RegisterEventSourceW(nullptr, sourceName));
    if (!log.m_source) {
        log.m_refused = refusal(::GetLastError());
    }
    return log;
}

std::string EventLog::report(EventKind kind, const std::string& text) const
{
    if (!m_source) {
        return m_refused;
    }
    std::wstring message = widen(text);
    if (message.size() > longestText) {
        message.resize(longestText);
    }
    const wchar_t* strings[] = {message.c_str()};
    if (!::ReportEventW(m_source.get(), eventType(kind.level), 0, static_cast<DWORD>(kind.id),
                        nullptr, 1, 0, strings, nullptr)) {
        return refusal(::GetLastError());
    }
    return {};
}

void registerEventSource()
{
    const char* const what = "cannot register the event source velmor_sndd";
    HKEY created = nullptr;
    check(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, sourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, &created, nullptr),
          what);
    const KeyHandle key(created);
    const std::wstring file = programPath();
    check(::RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                           reinterpret_cast<const BYTE*>(file.c_str()),
                           static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t))),
          what);
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    check(::RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&types), sizeof(types)),
          what);
}

bool removeEventSource()
{
    const LSTATUS status = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, sourceKey);
    if (status == ERROR_FILE_NOT_FOUND) {
        return false;
    }
    check(status, "cannot remove the event source velmor_sndd");
    return true;
}

} // namespace server
