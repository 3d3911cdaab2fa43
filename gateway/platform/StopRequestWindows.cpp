#include "gateway/platform/StopRequest.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace gateway {

namespace {

// The console's control handler runs on a thread of its own and reaches nothing but what is
// global: the one stop request, and whether its program has finished shutting down.
std::atomic<StopRequest*> current{nullptr};
HANDLE shutDown = nullptr;

BOOL WINAPI onConsoleControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        // Above all CTRL_LOGOFF_EVENT: Windows sends it to services only (a console program is
        // ended with its session), and a service outlives the sessions of those who log off.
        return FALSE;
    }
    StopRequest* request = current.load();
    if (request == nullptr) {
        return FALSE;
    }
    request->request();
    // Windows ends the process once this returns (for a closed console at once): return only
    // when the program has shut down in order, which ends with the request's destruction.
    ::WaitForSingleObject(shutDown, INFINITE);
    return TRUE;
}

} // namespace

StopRequest::StopRequest()
{
    StopRequest* expected = nullptr;
    if (!current.compare_exchange_strong(expected, this)) {
        throw std::logic_error("only one stop request at a time");
    }
    shutDown = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void StopRequest::deliverSystemStop()
{
    // The system runs the handler on a thread of its own; it ends once the shutdown has.
    std::thread([] { onConsoleControl(CTRL_BREAK_EVENT); }).detach();
}

StopRequest::~StopRequest()
{
    // A handler still waiting for the shutdown returns now; a later event ends the process the
    // system's way.
    ::SetEvent(shutDown);
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
    current.store(nullptr);
}

} // namespace gateway
