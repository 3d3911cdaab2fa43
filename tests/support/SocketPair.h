#pragma once

#include "gateway/platform/SocketPlatform.h"

#include <stdexcept>
#include <utility>

// A socket bound to 127.0.0.1 on a port the system chooses; not listening yet.
inline gateway::Socket loopbackSocket(std::uint16_t port = 0)
{
    gateway::Socket socket = gateway::openStream(gateway::Family::IPv4);
    // As a real server does: a server started again on this port binds while the last one's
    // connections linger in TIME_WAIT (Linux wants address reuse on both for that).
    gateway::claimListeningPort(socket);
    if (!gateway::bindIPv4(socket, gateway::loopbackIPv4(), port)) {
        throw std::runtime_error("cannot bind loopback");
    }
    return socket;
}

// Two ends of one loopback TCP connection.
inline std::pair<gateway::Socket, gateway::Socket> tcpPair()
{
    gateway::Socket listening = loopbackSocket();
    gateway::listenOn(listening, 1);
    gateway::Socket near = gateway::openStream(gateway::Family::IPv4);
    gateway::connectIPv4(near, gateway::loopbackIPv4(), gateway::localPort(listening));
    gateway::Socket far = gateway::acceptFrom(listening);
    return {std::move(near), std::move(far)};
}
