#pragma once

#include "gateway/SocketPlatform.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/socket.h>

// A requesting client for tests: writes raw bytes, reads one answer line.
class TestClient
{
public:
    explicit TestClient(std::uint16_t port, gateway::Family family = gateway::Family::IPv4)
        : m_socket(gateway::openStream(family))
    {
        int result;
        if (family == gateway::Family::IPv4) {
            sockaddr_in peer{};
            peer.sin_family = AF_INET;
            peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            peer.sin_port = htons(port);
            result = ::connect(m_socket.handle(), reinterpret_cast<sockaddr*>(&peer), sizeof peer);
        } else {
            sockaddr_in6 peer{};
            peer.sin6_family = AF_INET6;
            peer.sin6_addr = in6addr_loopback;
            peer.sin6_port = htons(port);
            result = ::connect(m_socket.handle(), reinterpret_cast<sockaddr*>(&peer), sizeof peer);
        }
        if (result != 0) {
            throw std::runtime_error("test client cannot connect");
        }
    }

    void send(std::string_view bytes) { gateway::sendAll(m_socket, bytes); }
    void shutdownSending() { ::shutdown(m_socket.handle(), SHUT_WR); }
    void reset()
    {
        linger option{1, 0};
        ::setsockopt(m_socket.handle(), SOL_SOCKET, SO_LINGER, &option, sizeof option);
        m_socket = gateway::Socket();
    }

    // The next line up to CR LF (without it); nullopt when the gateway closed the connection
    // or nothing came within timeoutMs.
    std::optional<std::string> readLine(int timeoutMs = 10000)
    {
        m_closed = false;
        for (;;) {
            auto end = m_pending.find("\r\n");
            if (end != std::string::npos) {
                std::string line = m_pending.substr(0, end);
                m_pending.erase(0, end + 2);
                return line;
            }
            if (gateway::waitReadable(m_socket, timeoutMs, nullptr) !=
                gateway::Readiness::Readable) {
                return std::nullopt;
            }
            char buffer[4096];
            std::size_t received = 0;
            try {
                received = gateway::receiveSome(m_socket, buffer, sizeof buffer);
            } catch (const std::exception&) {
                m_closed = true;
                return std::nullopt;
            }
            if (received == 0) {
                m_closed = true;
                return std::nullopt;
            }
            m_pending.append(buffer, received);
        }
    }

    // True when the gateway closed the connection without sending anything more.
    bool closedWithoutAnswer(int timeoutMs = 10000)
    {
        return !readLine(timeoutMs) && m_closed && m_pending.empty();
    }

private:
    gateway::Socket m_socket;
    std::string m_pending;
    bool m_closed = false;
};
