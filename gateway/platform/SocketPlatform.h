#pragma once

// The one place that speaks the system's socket API. Everything above it sees sockets,
// wake signals and socket errors on the Windows Sockets number scale. Implemented once for
// POSIX systems (SocketPlatformPosix.cpp) and once for Windows Sockets 2
// (SocketPlatformWindows.cpp).

#include "gateway/base/IpAddress.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace gateway {

// A socket descriptor (POSIX) or SOCKET (Windows); -1 for none.
using NativeHandle = std::intptr_t;

// A level-triggered wake-up: once raised it stays raised, so every waiter sees it. Its handle
// can be watched like a socket (an event loop's socket notifier included).
class WakeSignal
{
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    void raise();
    bool raised() const;
    // Lowers it again, for a signal that one waiter consumes.
    void clear();
    NativeHandle handle() const { return m_readable; }

private:
    // What waits watch; on Windows a loopback connection's reading end, raised by its other
    // end (m_raiser), since only sockets can be waited for together with sockets there.
    NativeHandle m_readable = -1;
    NativeHandle m_raiser = -1;
    // What raised() reads, so that asking costs no system call. Set before the handle is made
    // readable and lowered after it is drained: a raise that meets a clear may leave the handle
    // readable while this says lowered, never the other way round, so no waiter misses a raise.
    std::atomic<bool> m_raised{false};
};

// An owned socket; the destructor closes it.
class Socket
{
public:
    Socket() = default;
    explicit Socket(NativeHandle fd) : m_fd(fd) {}
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool isOpen() const { return m_fd != -1; }
    NativeHandle handle() const { return m_fd; }
    // Gives the socket up: the caller closes it from now on.
    NativeHandle release() { return std::exchange(m_fd, -1); }

    // Sending side shut down, then closed.
    void close();
    // Both directions shut down without closing, so that a call blocked in another thread
    // returns while the descriptor stays valid for it.
    void shutdownBoth();

private:
    NativeHandle m_fd = -1;
};

// Why the system refused a call: the number on the Windows Sockets scale, and the system's own
// words for it (strerror, gai_strerror, FormatMessage) without a final period; they may be empty.
struct SystemReason
{
    int number = 0;
    std::string text;
};

// Maps the platform's error number onto the Windows Sockets scale; a number without a
// counterpart is returned unchanged.
int toSocketErrorNumber(int platformError);
// Throws the socket error of the current platform error number, with the system's words.
[[noreturn]] void throwLastSocketError();

Socket openStream(Family family);
void setAddressReuse(Socket& socket, bool on);
// Before a listening socket's bind: a restarted listener binds its port at once (on Linux
// address reuse, which still refuses a port that a live listener holds), and no other program
// can take the port over while it listens (on Windows exclusive use; address reuse there would
// let it).
void claimListeningPort(Socket& socket);
void setV6Only(Socket& socket);
// Binds to one address; false when the system refuses, and then refusal, when given, holds why.
bool bindAddress(Socket& socket, const IpAddress& address, std::uint16_t port,
                 SystemReason* refusal = nullptr);
// Binds to the wildcard address of the family; false when the system refuses, and then
// refusal, when given, holds why.
bool bindWildcard(Socket& socket, Family family, std::uint16_t port,
                  SystemReason* refusal = nullptr);
std::uint16_t localPort(const Socket& socket);
void listenOn(Socket& socket, int backlog);
// An accepted socket, or a closed one when the system refused the accept; refusal, when
// given, then holds why, on the Windows Sockets scale (10024: no descriptors left).
Socket acceptFrom(const Socket& listening, int* refusal = nullptr);
// Dotted IPv4 text as it is; otherwise a name lookup ("localhost" in any case is 127.0.0.1).
// Throws the socket error of the resolver (11001 for an unknown name).
std::uint32_t resolveIPv4(const std::string& host);
// Before the link's connect: keepalive probes with the link's times (Settings.h), so that a
// lock-system machine that is gone without a word is noticed within about a minute. False when
// the system refused part of it, which the link lives without.
bool enableLinkKeepAlive(Socket& socket);
// The idle time before the first keepalive probe as the system holds it; nullopt while
// keepalive is off, and where it cannot be read back (Windows).
std::optional<int> keepAliveIdleSeconds(const Socket& socket);
// Connect to an IPv4 address in network byte order, with no time limit of its own. A raised
// abandon signal ends it at once with EAbort (a stop request during a connect that hangs on an
// unreachable host). Throws the socket error.
void connectIPv4(Socket& socket, std::uint32_t address, std::uint16_t port,
                 const WakeSignal* abandon = nullptr);
bool ipv6Available();

enum class Readiness
{
    Readable,
    Woken,
    TimedOut
};
// Waits until the socket is readable, the wake signal is raised, or timeoutMs passes
// (negative: no time limit). Throws the socket error when the wait itself fails.
Readiness waitReadable(const Socket& socket, int timeoutMs, const WakeSignal* wake);
// Waits until the wake signal is raised or timeoutMs passes; true when raised.
bool waitForWake(const WakeSignal& wake, int timeoutMs);
// Waits until either is raised (negative timeoutMs: no limit): 1 for first, 2 for second (first
// wins when both are), 0 when the time has passed.
int waitForEither(const WakeSignal& first, const WakeSignal& second, int timeoutMs);

// True once the peer has reset the connection, or both directions are shut down; a peer that
// only ended its sending side is not hung up. Never waits, never receives.
bool hasHungUp(const Socket& socket);

// One receive of at most size bytes: the count, 0 at the end of the peer's stream.
// Throws the socket error.
std::size_t receiveSome(const Socket& socket, char* buffer, std::size_t size);
// Hands every byte to the system; never raises SIGPIPE. Throws the socket error.
void sendAll(const Socket& socket, std::string_view bytes);

// Binds to one IPv4 address in network byte order; false when the system refuses, and then
// refusal, when given, holds why.
bool bindIPv4(Socket& socket, std::uint32_t address, std::uint16_t port,
              SystemReason* refusal = nullptr);
// Connect to an IPv4 address in network byte order that gives up after timeoutMs
// (negative: no time limit) with the time-out error 10060, or at once with EAbort when the
// abandon signal is raised. Throws the socket error.
void connectIPv4Within(Socket& socket, std::uint32_t address, std::uint16_t port, int timeoutMs,
                       const WakeSignal* abandon = nullptr);
// Closes with a zero linger time and no shutdown first, so the peer sees a reset instead of
// an orderly end of stream.
void abortConnection(Socket& socket);
// Ends the sending side only; the peer reads the end of the stream.
void shutdownSending(Socket& socket);

// 127.0.0.1 in network byte order.
std::uint32_t loopbackIPv4();
// Connects to the family's loopback address (127.0.0.1 or ::1); throws the socket error.
void connectLoopback(Socket& socket, Family family, std::uint16_t port);
// Dotted text of an IPv4 address in network byte order.
std::string dottedIPv4(std::uint32_t address);
// The connected peer's address and port; none when the system no longer knows it.
std::optional<Endpoint> peerEndpoint(const Socket& socket);
// The connected peer as "192.0.2.7:53114" or "[2001:db8::7]:53114"; "unknown" when the system
// no longer knows it.
std::string peerAddressText(const Socket& socket);

} // namespace gateway
