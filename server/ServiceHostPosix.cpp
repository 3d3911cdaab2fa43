#include "server/ServiceHost.h"

#include <algorithm>
#include <stdexcept>

#include <systemd/sd-daemon.h>

using namespace gateway;

namespace server {

namespace {

const char* const systemdInstead =
    "services are made with systemd here: the velmor_sndd.service unit";

} // namespace

bool serviceRegistrationAvailable()
{
    return false;
}

void installService(const std::vector<std::string>&)
{
    throw std::runtime_error(systemdInstead);
}

bool uninstallService(int)
{
    throw std::runtime_error(systemdInstead);
}

bool runAsService(StopRequest&, const std::function<int(const ServiceStateReport&)>&, int&)
{
    return false;
}

std::string serviceDataFile(const char*)
{
    return {};
}

void notifyServiceManager(const char* state)
{
    // Without NOTIFY_SOCKET (not started by systemd) this does nothing.
    ::sd_notify(0, state);
}

std::optional<std::chrono::milliseconds> serviceWatchdogInterval()
{
    std::uint64_t usec = 0;
    if (::sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(std::max<std::uint64_t>(usec / 2000, 1));
}

bool serviceManagerShowsStatus()
{
    return true;
}

} // namespace server
