#include "gateway/platform/AppendHandle.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace gateway {

AppendHandle AppendHandle::open(const std::string& path, std::string& reason)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0) {
        reason = std::strerror(errno);
        return {};
    }
    return AppendHandle(fd);
}

void AppendHandle::close()
{
    if (isOpen()) {
        ::close(static_cast<int>(m_native));
        m_native = closed;
    }
}

std::string AppendHandle::write(std::string_view bytes)
{
    const int fd = static_cast<int>(m_native);
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return std::strerror(errno);
        }
        if (written == 0) {
            return "nothing could be written";
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

} // namespace gateway
