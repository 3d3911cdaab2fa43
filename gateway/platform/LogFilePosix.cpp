#include "gateway/platform/LogFile.h"

#include "gateway/platform/SignalWakePosix.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace gateway {

namespace {

int openForAppend(const std::string& path)
{
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
}

} // namespace

struct LogFile::Handle
{
    int fd = -1;
};

LogFile::LogFile(std::string path, const std::string& what)
    : m_path(std::move(path)), m_handle(std::make_unique<Handle>())
{
    m_handle->fd = openForAppend(m_path);
    if (m_handle->fd < 0) {
        throw std::runtime_error("cannot open the " + what + " " + m_path + ": " +
                                 std::strerror(errno));
    }
}

LogFile::~LogFile()
{
    ::close(m_handle->fd);
}

std::string LogFile::append(std::string_view record)
{
    std::string line(record);
    line += '\n';
    std::lock_guard lock(m_mutex);
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t written = ::write(m_handle->fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return std::strerror(errno); // a full disk loses the record, never the gateway
        }
        if (written == 0) {
            return "nothing could be written";
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

std::string LogFile::reopen()
{
    const int fd = openForAppend(m_path);
    if (fd < 0) {
        return std::strerror(errno);
    }
    std::lock_guard lock(m_mutex);
    ::close(m_handle->fd);
    m_handle->fd = fd;
    return {};
}

ReopenRequest::ReopenRequest()
{
    posix::raiseOnSignal(SIGHUP, m_signal);
}

ReopenRequest::~ReopenRequest()
{
    posix::restoreSignal(SIGHUP);
}

} // namespace gateway
