#include "gateway/ProcessFacts.h"

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace gateway {

namespace {

std::int64_t virtualSizeKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmSize:", 0) == 0) {
            return std::stoll(line.substr(7));
        }
    }
    return -1;
}

} // namespace

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

bool runningUnderWine()
{
    return false;
}

std::int64_t peakResidentKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool allowOpenSockets(std::uint64_t count)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return false;
    }
    if (limit.rlim_cur >= count) {
        return true;
    }
    if (limit.rlim_max < count) {
        return false;
    }
    limit.rlim_cur = count;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

bool allowNoFurtherFiles()
{
    // A new descriptor is the lowest free one, and must lie below the limit.
    const int lowestFree = ::fcntl(0, F_DUPFD_CLOEXEC, 0);
    if (lowestFree < 0) {
        return false;
    }
    ::close(lowestFree);
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return false;
    }
    limit.rlim_cur = static_cast<rlim_t>(lowestFree);
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
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

bool capAddressSpace(std::optional<std::uint64_t> extraBytes)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0) {
        return false;
    }
    if (!extraBytes) {
        limit.rlim_cur = limit.rlim_max;
    } else {
        const std::int64_t size = virtualSizeKiB();
        if (size < 0) {
            return false;
        }
        limit.rlim_cur = static_cast<rlim_t>(size) * 1024 + *extraBytes;
    }
    return ::setrlimit(RLIMIT_AS, &limit) == 0;
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
