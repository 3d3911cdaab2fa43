#include "gateway/ServiceHost.h"

#include <stdexcept>

namespace gateway {

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

} // namespace gateway
