#include "server/ServiceHost.h"

#include "gateway/platform/ProcessFacts.h"

#include "gateway/platform/WindowsText.h"
#include "server/WindowsCommandLine.h"
#include "server/WindowsSystem.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <type_traits>

using namespace gateway;

namespace server {

namespace {

const wchar_t* const serviceNameW = L"velmor_sndd";
const wchar_t* const displayName = L"Velmor key-request gateway";
const wchar_t* const description =
    L"Passes key requests from the front desk to the door-lock system's interface server.";

// The start waits for the link's connect attempt; the stop for requests under way (8 s) and
// the link's close.
constexpr DWORD startWaitHintMs = 60000;
constexpr DWORD stopWaitHintMs = 15000;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + systemMessage(::GetLastError()));
}

struct CloseServiceHandle
{
    void operator()(SC_HANDLE handle) const { ::CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, CloseServiceHandle>;

ServiceHandle openManager(DWORD access)
{
    ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, access));
    if (!manager) {
        fail("cannot open the service manager");
    }
    return manager;
}

// The service while it runs: what its control handler and its main function reach.
struct RunningService
{
    RunningService(StopRequest& stopRequest,
                   const std::function<int(const ServiceStateReport&)>& serviceBody)
        : stop(stopRequest), body(serviceBody)
    {
    }

    StopRequest& stop;
    const std::function<int(const ServiceStateReport&)>& body;
    SERVICE_STATUS_HANDLE handle = nullptr;
    std::mutex mutex;
    SERVICE_STATUS status{};
    int exitStatus = 0;

    void report(DWORD state, DWORD waitHintMs = 0)
    {
        std::lock_guard lock(mutex);
        const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
        status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        status.dwCurrentState = state;
        status.dwControlsAccepted =
            state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
        status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
        status.dwWaitHint = waitHintMs;
        if (state == SERVICE_STOPPED && exitStatus != 0) {
            status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
            status.dwServiceSpecificExitCode = static_cast<DWORD>(exitStatus);
        }
        ::SetServiceStatus(handle, &status);
    }
};

// The service manager calls the service's main function without a context: the one running
// service is reached through this, set only while the dispatcher runs.
std::atomic<RunningService*> runningService{nullptr};

DWORD WINAPI onServiceControl(DWORD control, DWORD, LPVOID, LPVOID context)
{
    auto* service = static_cast<RunningService*>(context);
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        service->report(SERVICE_STOP_PENDING, stopWaitHintMs);
        service->stop.request();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD, LPWSTR*)
{
    RunningService* service = runningService.load();
    service->handle = ::RegisterServiceCtrlHandlerExW(serviceNameW, onServiceControl, service);
    if (service->handle == nullptr) {
        service->exitStatus = 1;
        return;
    }
    service->report(SERVICE_START_PENDING, startWaitHintMs);
    try {
        service->exitStatus = service->body([service](ServiceState state) {
            if (state == ServiceState::Running) {
                service->report(SERVICE_RUNNING);
            } else {
                service->report(SERVICE_STOP_PENDING, stopWaitHintMs);
            }
        });
    } catch (...) {
        service->exitStatus = 1;
    }
    service->report(SERVICE_STOPPED);
}

} // namespace

bool serviceRegistrationAvailable()
{
    return true;
}

void installService(const std::vector<std::string>& arguments)
{
    ServiceHandle manager = openManager(SC_MANAGER_CREATE_SERVICE);
    std::vector<std::string> words{narrow(programPath())};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const std::wstring command = widen(windowsCommandLine(words));
    // The local service account: no administrator's rights, and port 3000 needs none.
    ServiceHandle service(::CreateServiceW(
        manager.get(), serviceNameW, displayName, SERVICE_CHANGE_CONFIG | SERVICE_START,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
        nullptr, nullptr, nullptr, L"NT AUTHORITY\\LocalService", L""));
    if (!service) {
        fail("cannot register the service velmor_sndd");
    }
    // Both are conveniences: a system that refuses them still has a working service.
    SERVICE_DESCRIPTIONW text{const_cast<LPWSTR>(description)};
    ::ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &text);
    // Started again 5 s after it fails, as systemd's Restart=on-failure does; a failure is
    // also a stop with a non-zero exit status.
    SC_ACTION restart{SC_ACTION_RESTART, 5000};
    SERVICE_FAILURE_ACTIONSW actions{};
    actions.dwResetPeriod = 24 * 60 * 60;
    actions.cActions = 1;
    actions.lpsaActions = &restart;
    ::ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &actions);
    SERVICE_FAILURE_ACTIONS_FLAG onNonZeroExit{TRUE};
    ::ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onNonZeroExit);
}

bool uninstallService(int stopWaitMs)
{
    ServiceHandle manager = openManager(SC_MANAGER_CONNECT);
    ServiceHandle service(
        ::OpenServiceW(manager.get(), serviceNameW, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) {
        if (::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            return false;
        }
        fail("cannot open the service velmor_sndd");
    }
    SERVICE_STATUS status{};
    if (::ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        // The service manager has no wait for a state: its status is asked for, within a bound.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(stopWaitMs);
        while (::QueryServiceStatus(service.get(), &status) &&
               status.dwCurrentState != SERVICE_STOPPED &&
               std::chrono::steady_clock::now() < deadline) {
            ::Sleep(200);
        }
    }
    if (!::DeleteService(service.get()) && ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        fail("cannot remove the service velmor_sndd");
    }
    return true;
}

bool runAsService(StopRequest& stop, const std::function<int(const ServiceStateReport&)>& body,
                  int& exitStatus)
{
    RunningService service(stop, body);
    runningService.store(&service);
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(serviceNameW), serviceMain},
                                    {nullptr, nullptr}};
    const BOOL dispatched = ::StartServiceCtrlDispatcherW(table);
    runningService.store(nullptr);
    if (!dispatched) {
        return false;
    }
    exitStatus = service.exitStatus;
    return true;
}

std::string serviceDataFile(const char* name)
{
    const std::string folder = programDataFolder() + "\\velmor_sndd";
    // An existing folder is fine; any other failure shows when the file cannot be opened.
    ::CreateDirectoryW(widen(folder).c_str(), nullptr);
    return folder + "\\" + name;
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

} // namespace server
