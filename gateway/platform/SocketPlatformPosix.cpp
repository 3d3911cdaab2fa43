#include "gateway/platform/SocketApi.h"

#include "gateway/base/Errors.h"
#include "gateway/base/Settings.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace gateway {

namespace {

struct ErrorPair
{
    int platform;
    int winsock;
};

constexpr ErrorPair errorMap[] = {
#define VELMOR_SOCKET_ERROR(posixErrno, number, text) {posixErrno, number},
#include "gateway/base/SocketErrors.def"
#undef VELMOR_SOCKET_ERROR
    // Linux reports a send on a connection the peer has reset as a broken pipe.
    {EPIPE, 10054},
};

int domainOf(Family family)
{
    return family == Family::IPv4 ? AF_INET : AF_INET6;
}

// Descriptors are ints here; the neutral handle type only carries them.
int fd(NativeHandle handle)
{
    return static_cast<int>(handle);
}

int fd(const Socket& socket)
{
    return fd(socket.handle());
}

// strerror_r comes in two kinds: the GNU one returns its text, which need not be in the buffer;
// the POSIX one fills the buffer and returns 0.
[[maybe_unused]] const char* strerrorResult(const char* text, const char*)
{
    return text;
}

[[maybe_unused]] const char* strerrorResult(int result, const char* buffer)
{
    return result == 0 ? buffer : "";
}

std::string errnoText(int error)
{
    char buffer[256] = {};
    return strerrorResult(::strerror_r(error, buffer, sizeof buffer), buffer);
}

SystemReason reasonOf(int error)
{
    return {toSocketErrorNumber(error), errnoText(error)};
}

int lookupErrorNumber(int lookupError)
{
    switch (lookupError) {
    case EAI_NONAME:
        return socketapi::hostNotFound;
    case EAI_AGAIN:
        return 11002;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return 11004;
#endif
    case EAI_FAIL:
    default:
        return 11003;
    }
}

} // namespace

void socketapi::startSockets() {}

SystemReason socketapi::lastSocketError()
{
    return reasonOf(errno);
}

SystemReason socketapi::resolverFailure(int lookupError)
{
    if (lookupError == EAI_SYSTEM) {
        return reasonOf(errno);
    }
    return {lookupErrorNumber(lookupError), ::gai_strerror(lookupError)};
}

// One eventfd is both ends: what raises it and what waits watch.
WakeSignal::WakeSignal() : m_readable(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_readable < 0) {
        throwLastSocketError();
    }
    m_raiser = m_readable;
}

WakeSignal::~WakeSignal()
{
    ::close(fd(m_readable));
}

void WakeSignal::raise()
{
    // Never read back: the counter stays non-zero, so the descriptor stays readable. A lock-free
    // store and a single write, so it may be raised from a signal handler.
    m_raised.store(true);
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(fd(m_raiser), &one, sizeof one);
}

void WakeSignal::clear()
{
    std::uint64_t count = 0;
    [[maybe_unused]] auto read = ::read(fd(m_readable), &count, sizeof count);
    m_raised.store(false);
}

bool WakeSignal::raised() const
{
    return m_raised.load();
}

Socket::~Socket()
{
    if (m_fd >= 0) {
        ::close(fd(m_fd));
    }
}

Socket::Socket(Socket&& other) noexcept : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(fd(m_fd));
        }
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void Socket::close()
{
    if (m_fd >= 0) {
        ::shutdown(fd(m_fd), SHUT_WR);
        ::close(fd(m_fd));
        m_fd = -1;
    }
}

void Socket::shutdownBoth()
{
    if (m_fd >= 0) {
        ::shutdown(fd(m_fd), SHUT_RDWR);
    }
}

int toSocketErrorNumber(int platformError)
{
    for (const auto& pair : errorMap) {
        // -1 marks the numbers no errno stands for.
        if (pair.platform == platformError && platformError != -1) {
            return pair.winsock;
        }
    }
    return platformError;
}

void throwLastSocketError()
{
    SystemReason reason = socketapi::lastSocketError();
    throwSocketError(reason.number, std::move(reason.text));
}

Socket openStream(Family family)
{
    int fd = ::socket(domainOf(family), SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        throwLastSocketError();
    }
    return Socket(fd);
}

void setAddressReuse(Socket& socket, bool on)
{
    int value = on ? 1 : 0;
    if (::setsockopt(fd(socket), SOL_SOCKET, SO_REUSEADDR, &value, sizeof value) != 0) {
        throwLastSocketError();
    }
}

void claimListeningPort(Socket& socket)
{
    // Linux keeps a port bound without address reuse blocked while old connections sit in
    // TIME_WAIT; with it a restarted listener binds at once, and a port held by a live listener
    // is still refused.
    setAddressReuse(socket, true);
}

void setV6Only(Socket& socket)
{
    int value = 1;
    if (::setsockopt(fd(socket), IPPROTO_IPV6, IPV6_V6ONLY, &value, sizeof value) != 0) {
        throwLastSocketError();
    }
}

Socket acceptFrom(const Socket& listening, int* refusal)
{
    Socket accepted(::accept4(fd(listening), nullptr, nullptr, SOCK_CLOEXEC));
    if (!accepted.isOpen() && refusal) {
        *refusal = toSocketErrorNumber(errno);
    }
    return accepted;
}

bool ipv6Available()
{
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

Readiness waitReadable(const Socket& socket, int timeoutMs, const WakeSignal* wake)
{
    pollfd entries[2] = {{fd(socket), POLLIN, 0}, {wake ? fd(wake->handle()) : -1, POLLIN, 0}};
    for (;;) {
        int result = ::poll(entries, wake ? 2 : 1, timeoutMs < 0 ? -1 : timeoutMs);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result < 0) {
            throwLastSocketError();
        }
        if (result == 0) {
            return Readiness::TimedOut;
        }
        // Hang-up and error count as readable: the receive that follows reports them.
        if (entries[0].revents != 0) {
            return Readiness::Readable;
        }
        return Readiness::Woken;
    }
}

bool waitForWake(const WakeSignal& wake, int timeoutMs)
{
    pollfd entry{fd(wake.handle()), POLLIN, 0};
    int result;
    do {
        result = ::poll(&entry, 1, timeoutMs);
    } while (result < 0 && errno == EINTR);
    return result > 0;
}

int waitForEither(const WakeSignal& first, const WakeSignal& second, int timeoutMs)
{
    pollfd entries[2] = {{fd(first.handle()), POLLIN, 0}, {fd(second.handle()), POLLIN, 0}};
    int result;
    do {
        result = ::poll(entries, 2, timeoutMs < 0 ? -1 : timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result <= 0) {
        return 0;
    }
    return entries[0].revents != 0 ? 1 : 2;
}

std::size_t receiveSome(const Socket& socket, char* buffer, std::size_t size)
{
    for (;;) {
        ssize_t received = ::recv(fd(socket), buffer, size, 0);
        if (received >= 0) {
            return static_cast<std::size_t>(received);
        }
        if (errno != EINTR) {
            throwLastSocketError();
        }
    }
}

void sendAll(const Socket& socket, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t sent = ::send(fd(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwLastSocketError();
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

void connectIPv4Within(Socket& socket, std::uint32_t address, std::uint16_t port, int timeoutMs,
                       const WakeSignal* abandon)
{
    // Non-blocking only for the connect itself, so that the wait for it can also watch the
    // abandon signal; the socket is handed back blocking.
    int flags = ::fcntl(fd(socket), F_GETFL);
    if (flags < 0 || ::fcntl(fd(socket), F_SETFL, flags | O_NONBLOCK) != 0) {
        throwLastSocketError();
    }
    sockaddr_in peer = socketapi::ipv4SocketAddress(address, port);
    int error = 0;
    bool abandoned = false;
    if (::connect(fd(socket), reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        error = errno;
    }
    if (error == EINPROGRESS || error == EINTR) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        pollfd entries[2] = {{fd(socket), POLLOUT, 0},
                             {abandon ? fd(abandon->handle()) : -1, POLLIN, 0}};
        for (;;) {
            int wait = -1;
            if (timeoutMs >= 0) {
                auto left = std::chrono::ceil<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                wait = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
            }
            int result = ::poll(entries, abandon ? 2 : 1, wait);
            if (result < 0 && errno == EINTR) {
                continue;
            }
            if (result < 0) {
                error = errno;
            } else if (result == 0) {
                error = ETIMEDOUT;
            } else if (entries[0].revents == 0) {
                abandoned = true;
            } else {
                socklen_t length = sizeof error;
                if (::getsockopt(fd(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                    error = errno;
                }
            }
            break;
        }
    }
    ::fcntl(fd(socket), F_SETFL, flags);
    if (abandoned) {
        throw EAbort("Operation aborted");
    }
    if (error != 0) {
        SystemReason reason = reasonOf(error);
        throwSocketError(reason.number, std::move(reason.text));
    }
}

bool enableLinkKeepAlive(Socket& socket)
{
    auto set = [&socket](int level, int option, int value) {
        return ::setsockopt(fd(socket), level, option, &value, sizeof value) == 0;
    };
    // All are tried: each one the system takes brings the notice nearer.
    bool taken = set(SOL_SOCKET, SO_KEEPALIVE, 1);
    taken = set(IPPROTO_TCP, TCP_KEEPIDLE, settings::linkKeepAliveIdleSeconds) && taken;
    taken = set(IPPROTO_TCP, TCP_KEEPINTVL, settings::linkKeepAliveIntervalSeconds) && taken;
    taken = set(IPPROTO_TCP, TCP_KEEPCNT, settings::linkKeepAliveProbes) && taken;
    taken = set(IPPROTO_TCP, TCP_USER_TIMEOUT, settings::linkUnacknowledgedLimitMs) && taken;
    return taken;
}

std::optional<int> keepAliveIdleSeconds(const Socket& socket)
{
    int on = 0;
    int seconds = 0;
    socklen_t length = sizeof on;
    if (::getsockopt(fd(socket), SOL_SOCKET, SO_KEEPALIVE, &on, &length) != 0 || on == 0) {
        return std::nullopt;
    }
    length = sizeof seconds;
    if (::getsockopt(fd(socket), IPPROTO_TCP, TCP_KEEPIDLE, &seconds, &length) != 0) {
        return std::nullopt;
    }
    return seconds;
}

bool hasHungUp(const Socket& socket)
{
    pollfd entry{fd(socket), POLLIN, 0};
    int result;
    do {
        result = ::poll(&entry, 1, 0);
    } while (result < 0 && errno == EINTR);
    // A reset leaves the socket closed on the system's side: hang-up, with the reset as its
    // pending error. An ended peer stream alone only makes it readable.
    return result > 0 && (entry.revents & (POLLHUP | POLLERR)) != 0;
}

void abortConnection(Socket& socket)
{
    if (!socket.isOpen()) {
        return;
    }
    linger zero{1, 0};
    ::setsockopt(fd(socket), SOL_SOCKET, SO_LINGER, &zero, sizeof zero);
    // The move-assignment closes without the orderly shutdown of Socket::close.
    socket = Socket();
}

void shutdownSending(Socket& socket)
{
    ::shutdown(fd(socket), SHUT_WR);
}

} // namespace gateway
