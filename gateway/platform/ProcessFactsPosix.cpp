#include "gateway/platform/ProcessFacts.h"

#include <ctime>
#include <string>
#include <sys/resource.h>

namespace gateway {

int localYearNow()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return local.tm_year + 1900;
}

int startupShowState()
{
    return 1;
}

void useBinaryStandardStreams() {}

bool windowsSystem()
{
    return false;
}

std::optional<std::uint64_t> raiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return std::nullopt;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
    }
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

bool useParentConsole()
{
    return true; // a process has its standard streams from whoever started it
}

std::string programDataFolder()
{
    return {};
}

std::string machineSettingsFile()
{
    return "/etc/velmor_snd.conf";
}

} // namespace gateway
