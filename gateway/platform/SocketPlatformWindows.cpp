#include "gateway/platform/SocketApi.h"

#include "gateway/base/Errors.h"
#include "gateway/base/Settings.h"
#include "gateway/platform/WindowsText.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which it needs.
#include <mstcpip.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace gateway {

namespace {

SOCKET native(NativeHandle handle)
{
    return static_cast<SOCKET>(handle);
}

SOCKET native(const Socket& socket)
{
    return native(socket.handle());
}

NativeHandle neutral(SOCKET socket)
{
    return socket == INVALID_SOCKET ? -1 : static_cast<NativeHandle>(socket);
}

int domainOf(Family family)
{
    return family == Family::IPv4 ? AF_INET : AF_INET6;
}

// Child processes (a service controller, a test's helper) must not inherit our sockets.
SOCKET newSocket(int domain)
{
    socketapi::startSockets();
    SOCKET socket = ::WSASocketW(domain, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                 WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        throwLastSocketError();
    }
    return socket;
}

timeval* toTimeval(int timeoutMs, timeval& value)
{
    if (timeoutMs < 0) {
        return nullptr;
    }
    value.tv_sec = timeoutMs / 1000;
    value.tv_usec = (timeoutMs % 1000) * 1000;
    return &value;
}

// select rather than WSAPoll: WSAPoll misses failed connects on older Windows 10.
int selectReadable(SOCKET first, SOCKET second, int timeoutMs, fd_set& ready)
{
    FD_ZERO(&ready);
    FD_SET(first, &ready);
    if (second != INVALID_SOCKET) {
        FD_SET(second, &ready);
    }
    timeval value{};
    const int result = ::select(0, &ready, nullptr, nullptr, toTimeval(timeoutMs, value));
    if (result == SOCKET_ERROR) {
        throwLastSocketError();
    }
    return result;
}

// Windows' text for a Windows Sockets number, as one line without the final CR LF and period;
// empty where the system has none (Wine has few).
std::string systemText(int number)
{
    wchar_t buffer[512] = {};
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(number), 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    std::wstring_view text(buffer, length);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.remove_suffix(1);
    }
    return narrow(text);
}

void setBlocking(SOCKET socket, bool blocking)
{
    u_long nonBlocking = blocking ? 0 : 1;
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
        throwLastSocketError();
    }
}

} // namespace

// Windows Sockets are started once per process, before the first socket call.
void socketapi::startSockets()
{
    static const int started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0) {
        throwSocketError(started, systemText(started));
    }
}

SystemReason socketapi::lastSocketError()
{
    const int number = ::WSAGetLastError();
    return {number, systemText(number)};
}

// The resolver's errors are Windows Sockets numbers already (11001 for an unknown name).
SystemReason socketapi::resolverFailure(int lookupError)
{
    return {lookupError, systemText(lookupError)};
}

// A loopback connection: the reading end is what waits watch, the other end raises it with one
// byte. Only sockets can be waited for together with sockets here.
WakeSignal::WakeSignal()
{
    Socket listening = openStream(Family::IPv4);
    if (!bindIPv4(listening, loopbackIPv4(), 0)) {
        throwLastSocketError();
    }
    listenOn(listening, 1);
    Socket raiser = openStream(Family::IPv4);
    connectIPv4(raiser, loopbackIPv4(), localPort(listening));
    Socket readable = acceptFrom(listening);
    if (!readable.isOpen()) {
        throwLastSocketError();
    }
    // The raiser's byte must go at once, and neither a raise nor a clear ever blocks.
    BOOL noDelay = TRUE;
    ::setsockopt(native(raiser), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    setBlocking(native(readable), false);
    setBlocking(native(raiser), false);
    // Owned by this object from here on.
    m_readable = readable.release();
    m_raiser = raiser.release();
}

WakeSignal::~WakeSignal()
{
    ::closesocket(native(m_raiser));
    ::closesocket(native(m_readable));
}

void WakeSignal::raise()
{
    // A byte each time, so that a raise meeting a clear is never lost; the raiser does not
    // block, so a signal raised often without a clear only fills the connection, which stays
    // readable.
    m_raised.store(true);
    const char one = 1;
    ::send(native(m_raiser), &one, 1, 0);
}

void WakeSignal::clear()
{
    char bytes[64];
    while (::recv(native(m_readable), bytes, sizeof bytes, 0) > 0) {
    }
    m_raised.store(false);
}

bool WakeSignal::raised() const
{
    return m_raised.load();
}

Socket::~Socket()
{
    if (m_fd != -1) {
        ::closesocket(native(m_fd));
    }
}

Socket::Socket(Socket&& other) noexcept : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        if (m_fd != -1) {
            ::closesocket(native(m_fd));
        }
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void Socket::close()
{
    if (m_fd != -1) {
        ::shutdown(native(m_fd), SD_SEND);
        ::closesocket(native(m_fd));
        m_fd = -1;
    }
}

void Socket::shutdownBoth()
{
    if (m_fd != -1) {
        ::shutdown(native(m_fd), SD_BOTH);
    }
}

int toSocketErrorNumber(int platformError)
{
    // Windows Sockets numbers are the scale itself.
    return platformError;
}

void throwLastSocketError()
{
    SystemReason reason = socketapi::lastSocketError();
    throwSocketError(reason.number, std::move(reason.text));
}

Socket openStream(Family family)
{
    return Socket(neutral(newSocket(domainOf(family))));
}

void setAddressReuse(Socket& socket, bool on)
{
    BOOL value = on ? TRUE : FALSE;
    if (::setsockopt(native(socket), SOL_SOCKET, SO_REUSEADDR,
                     reinterpret_cast<const char*>(&value), sizeof value) != 0) {
        throwLastSocketError();
    }
}

void claimListeningPort(Socket& socket)
{
    // Never address reuse on Windows: it would let another program bind the port we listen on.
    // Exclusive use keeps it ours while we listen.
    BOOL value = TRUE;
    if (::setsockopt(native(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                     reinterpret_cast<const char*>(&value), sizeof value) != 0) {
        throwLastSocketError();
    }
}

void setV6Only(Socket& socket)
{
    DWORD value = 1;
    if (::setsockopt(native(socket), IPPROTO_IPV6, IPV6_V6ONLY,
                     reinterpret_cast<const char*>(&value), sizeof value) != 0) {
        throwLastSocketError();
    }
}

Socket acceptFrom(const Socket& listening, int* refusal)
{
    SOCKET accepted = ::accept(native(listening), nullptr, nullptr);
    if (accepted != INVALID_SOCKET) {
        ::SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
    } else if (refusal) {
        *refusal = ::WSAGetLastError();
    }
    return Socket(neutral(accepted));
}

bool ipv6Available()
{
    socketapi::startSockets();
    SOCKET socket = ::socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) {
        return false;
    }
    ::closesocket(socket);
    return true;
}

Readiness waitReadable(const Socket& socket, int timeoutMs, const WakeSignal* wake)
{
    fd_set ready;
    const SOCKET wakeSocket = wake ? native(wake->handle()) : INVALID_SOCKET;
    if (selectReadable(native(socket), wakeSocket, timeoutMs, ready) == 0) {
        return Readiness::TimedOut;
    }
    // An ended or reset connection counts as readable: the receive that follows reports it.
    return FD_ISSET(native(socket), &ready) ? Readiness::Readable : Readiness::Woken;
}

bool waitForWake(const WakeSignal& wake, int timeoutMs)
{
    fd_set ready;
    return selectReadable(native(wake.handle()), INVALID_SOCKET, timeoutMs, ready) > 0;
}

int waitForEither(const WakeSignal& first, const WakeSignal& second, int timeoutMs)
{
    fd_set ready;
    if (selectReadable(native(first.handle()), native(second.handle()), timeoutMs, ready) == 0) {
        return 0;
    }
    return FD_ISSET(native(first.handle()), &ready) ? 1 : 2;
}

bool enableLinkKeepAlive(Socket& socket)
{
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = settings::linkKeepAliveIdleSeconds * 1000;
    values.keepaliveinterval = settings::linkKeepAliveIntervalSeconds * 1000;
    DWORD returned = 0;
    const bool taken = ::WSAIoctl(native(socket), SIO_KEEPALIVE_VALS, &values, sizeof values,
                                  nullptr, 0, &returned, nullptr, nullptr) == 0;
    // The count of probes is taken from Windows 10 version 1703 on; where it is refused (older
    // versions, Wine) the system sends its 10, which still ends the link within about a minute.
    // Its number is the system's own where the headers lack it.
#ifdef TCP_KEEPCNT
    constexpr int probeCountOption = TCP_KEEPCNT;
#else
    constexpr int probeCountOption = 16;
#endif
    const DWORD probes = settings::linkKeepAliveProbes;
    ::setsockopt(native(socket), IPPROTO_TCP, probeCountOption,
                 reinterpret_cast<const char*>(&probes), sizeof probes);
    return taken;
}

std::optional<int> keepAliveIdleSeconds(const Socket&)
{
    // Windows sets the idle time but does not tell it.
    return std::nullopt;
}

bool hasHungUp(const Socket& socket)
{
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(native(socket), &ready);
    timeval none{};
    if (::select(0, &ready, nullptr, nullptr, &none) <= 0) {
        return false;
    }
    // Readable: bytes, the end of the peer's stream (not hung up: it may still read), or a
    // reset, which a look at the next byte reports.
    char next;
    if (::recv(native(socket), &next, 1, MSG_PEEK) != SOCKET_ERROR) {
        return false;
    }
    const int error = ::WSAGetLastError();
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN ||
           error == WSAENOTCONN;
}

std::size_t receiveSome(const Socket& socket, char* buffer, std::size_t size)
{
    const int received =
        ::recv(native(socket), buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
    if (received == SOCKET_ERROR) {
        throwLastSocketError();
    }
    return static_cast<std::size_t>(received);
}

void sendAll(const Socket& socket, std::string_view bytes)
{
    while (!bytes.empty()) {
        const int sent = ::send(native(socket), bytes.data(),
                                static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30)), 0);
        if (sent == SOCKET_ERROR) {
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
    setBlocking(native(socket), false);
    sockaddr_in peer = socketapi::ipv4SocketAddress(address, port);
    int error = 0;
    bool abandoned = false;
    if (::connect(native(socket), reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        error = ::WSAGetLastError();
    }
    if (error == WSAEWOULDBLOCK) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
        }
        // A connect that succeeds makes the socket writable; one that fails lands in the
        // exception set.
        fd_set writable, failed, woken;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_ZERO(&woken);
        FD_SET(native(socket), &writable);
        FD_SET(native(socket), &failed);
        if (abandon) {
            FD_SET(native(abandon->handle()), &woken);
        }
        timeval value{};
        const int result = ::select(0, &woken, &writable, &failed, toTimeval(wait, value));
        if (result == SOCKET_ERROR) {
            error = ::WSAGetLastError();
        } else if (result == 0) {
            error = WSAETIMEDOUT;
        } else if (FD_ISSET(native(socket), &writable)) {
            error = 0;
        } else if (FD_ISSET(native(socket), &failed)) {
            int length = sizeof error;
            if (::getsockopt(native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                             &length) != 0 ||
                error == 0) {
                error = ::WSAGetLastError() != 0 ? ::WSAGetLastError() : WSAECONNREFUSED;
            }
        } else {
            abandoned = true;
            error = 0;
        }
    }
    setBlocking(native(socket), true);
    if (abandoned) {
        throw EAbort("Operation aborted");
    }
    if (error != 0) {
        throwSocketError(error, systemText(error));
    }
}

void abortConnection(Socket& socket)
{
    if (!socket.isOpen()) {
        return;
    }
    linger zero{1, 0};
    ::setsockopt(native(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&zero),
                 sizeof zero);
    // The move-assignment closes without the orderly shutdown of Socket::close.
    socket = Socket();
}

void shutdownSending(Socket& socket)
{
    ::shutdown(native(socket), SD_SEND);
}

} // namespace gateway
