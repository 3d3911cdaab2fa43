#pragma once

#include "gateway/SocketPlatform.h"

#include <stdexcept>
#include <utility>

// A socket bound to 127.0.0.1 on a port the system chooses; not listening yet.
inline gateway::Socket loopbackSocket()
{
    gateway::Socket socket = gateway::openStream(gateway::Family::IPv4);
    if (!gateway::bindIPv4(socket, gateway::loopbackIPv4(), 0)) {
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
