#pragma once

#include "gateway/platform/StopRequest.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace server {

// velmor_sndd as a service of the system's service manager (the Windows Service Control
// Manager); systemd runs it as a plain program instead, and there every call below says so.

// The name the service is registered under.
inline constexpr const char* serviceName = "velmor_sndd";

// Whether this system's services are registered by the program itself (Windows).
bool serviceRegistrationAvailable();

// Registers the service, started automatically with the system, to run this program with
// the arguments. Throws std::runtime_error with the system's reason (no administrator, already
// registered).
void installService(const std::vector<std::string>& arguments);

// Stops the service (waiting for it at most stopWaitMs) and removes it. False when none was
// registered; throws std::runtime_error with the system's reason otherwise.
bool uninstallService(int stopWaitMs = 30000);

// What the running program tells the service manager.
enum class ServiceState
{
    Running,
    Stopping,
};
using ServiceStateReport = std::function<void(ServiceState)>;

// Runs body as the service the service manager has just started: reports start pending, then
// what body reports, then stopped with body's exit status. The manager's stop and shutdown
// requests raise stop. False, with body not run, when the process was not started by the
// service manager.
bool runAsService(gateway::StopRequest& stop,
                  const std::function<int(const ServiceStateReport&)>& body, int& exitStatus);

// Tells a service manager how the program is doing ("READY=1", "STOPPING=1"): systemd's
// notification where the program runs as a notify service, nothing anywhere else.
void notifyServiceManager(const char* state);

// How often a service manager wants to hear that the program is alive ("WATCHDOG=1"): half
// of systemd's WatchdogSec= for a notify service that has it, none anywhere else.
std::optional<std::chrono::milliseconds> serviceWatchdogInterval();

// Whether the service manager shows a running program's status line ("STATUS=...") itself:
// systemd does; elsewhere the program writes it to its log.
bool serviceManagerShowsStatus();

// Where a service keeps a file it was given no path for (its log, its key record): in the
// machine's shared program data, its folder made when missing. Empty where services have no
// such place.
std::string serviceDataFile(const char* name);

} // namespace server
