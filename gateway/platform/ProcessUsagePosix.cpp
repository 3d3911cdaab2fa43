#include "gateway/platform/ProcessUsage.h"

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace gateway {

namespace {

// Linux's /proc: the fields the kernel keeps for the process. Elsewhere they are not there, and
// the values stay unknown.
std::optional<std::uint64_t> residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0;
    std::uint64_t resident = 0;
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (!(statm >> size >> resident) || pageSize <= 0) {
        return std::nullopt;
    }
    return resident * static_cast<std::uint64_t>(pageSize);
}

std::optional<std::uint64_t> openDescriptors()
{
    DIR* folder = ::opendir("/proc/self/fd");
    if (!folder) {
        return std::nullopt;
    }
    std::uint64_t count = 0;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(folder);
    // Less the one the listing itself held open.
    return count > 0 ? count - 1 : 0;
}

// The start in clock ticks after boot (/proc/self/stat, field 22), and the boot's time
// (/proc/stat's btime).
std::optional<std::chrono::system_clock::time_point> startedAt()
{
    std::ifstream stat("/proc/self/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return std::nullopt;
    }
    // The command's name, in parentheses, may hold blanks: the fields count from its end.
    const auto nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(line.substr(nameEnd + 2));
    std::string field;
    // Field 3 (the state) is the first after the name; field 22 is the 20th from there.
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    std::ifstream system("/proc/stat");
    std::uint64_t bootSeconds = 0;
    for (std::string key; system >> key;) {
        if (key == "btime") {
            system >> bootSeconds;
            break;
        }
    }
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (!fields || bootSeconds == 0 || ticksPerSecond <= 0) {
        return std::nullopt;
    }
    const double ticks = std::stod(field);
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::duration<double>(static_cast<double>(bootSeconds) +
                                          ticks / static_cast<double>(ticksPerSecond))));
}

} // namespace

ProcessUsage processUsage()
{
    static const std::optional<std::chrono::system_clock::time_point> started = startedAt();
    return {started, residentBytes(), openDescriptors()};
}

} // namespace gateway
