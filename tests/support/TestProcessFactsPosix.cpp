#include "support/TestProcessFacts.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

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

bool deliverReopenSignal()
{
    return ::raise(SIGHUP) == 0;
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
