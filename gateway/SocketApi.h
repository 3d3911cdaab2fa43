#pragma once

// The BSD socket calls as both systems spell them: their headers, the native socket type and
// the type of an address's length. For the platform layer's own files only; the rest of the
// program sees SocketPlatform.h.

#include "gateway/SocketPlatform.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
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

} // namespace gateway::socketapi
