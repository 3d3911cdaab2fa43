#pragma once

#include "gateway/SocketPlatform.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <utility>

// Two ends of one loopback TCP connection.
inline std::pair<gateway::Socket, gateway::Socket> tcpPair()
{
    gateway::Socket listening = gateway::openStream(gateway::Family::IPv4);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listening.handle(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot bind loopback");
    }
    gateway::listenOn(listening, 1);
    gateway::Socket near = gateway::openStream(gateway::Family::IPv4);
    gateway::connectIPv4(near, htonl(INADDR_LOOPBACK), gateway::localPort(listening));
    gateway::Socket far = gateway::acceptFrom(listening);
    return {std::move(near), std::move(far)};
}
