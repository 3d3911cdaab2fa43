#include "gateway/platform/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace gateway {

std::optional<std::chrono::system_clock::time_point> lastWriteOfContent(const std::string& path)
{
    struct stat facts
    {
    };
    if (::stat(path.c_str(), &facts) != 0 || facts.st_size == 0) {
        return std::nullopt;
    }
    using namespace std::chrono;
    return system_clock::time_point(duration_cast<system_clock::duration>(
        seconds(facts.st_mtim.tv_sec) + nanoseconds(facts.st_mtim.tv_nsec)));
}

std::string moveAside(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return {};
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return std::strerror(errno);
    }
    // A file system without a rename that refuses to replace: a second name, then the first
    // one removed; the link fails when to is there.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return std::strerror(errno);
    }
    if (::unlink(from.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(to.c_str());
        return reason;
    }
    return {};
}

std::vector<std::string> fileNamesIn(const std::string& folder, std::string& reason)
{
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(
        ::opendir(folder.empty() ? "." : folder.c_str()), &::closedir);
    if (!listing) {
        reason = std::strerror(errno);
        return names;
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    return names;
}

std::string removeFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 ? std::string() : std::strerror(errno);
}

} // namespace gateway
