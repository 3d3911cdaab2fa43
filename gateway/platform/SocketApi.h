#pragma once

// The BSD socket calls as both systems spell them: their headers, the native socket type and
// the type of an address's length. For the platform layer's own files only; the rest of the
// program sees SocketPlatform.h.

#include "gateway/platform/SocketPlatform.h"

#ifdef _WIN32
#include <string.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#endif

namespace gateway::socketapi {

#ifdef _WIN32
using NativeSocket = SOCKET;
using AddressLength = int;
#else
using NativeSocket = int;
using AddressLength = socklen_t;
#endif

inline NativeSocket native(const Socket& socket)
{
    return static_cast<NativeSocket>(socket.handle());
}

inline bool equalIgnoringCase(const char* a, const char* b)
{
#ifdef _WIN32
    return ::_stricmp(a, b) == 0;
#else
    return ::strcasecmp(a, b) == 0;
#endif
}

// An IPv4 address (network order) and port as the socket calls take them.
inline sockaddr_in ipv4SocketAddress(std::uint32_t address, std::uint16_t port)
{
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = address;
    socketAddress.sin_port = htons(port);
    return socketAddress;
}

// The resolver's "no such name" on the Windows Sockets scale.
inline constexpr int hostNotFound = 11001;

// Starts the system's sockets where they must be started first (Windows); nothing elsewhere.
void startSockets();
// The error of the socket call that has just failed, on the Windows Sockets scale with the
// system's words for it.
SystemReason lastSocketError();
// A name lookup's error on the Windows Sockets scale (11001 for an unknown name), with the
// resolver's words for it.
SystemReason resolverFailure(int lookupError);

} // namespace gateway::socketapi
