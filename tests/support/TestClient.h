#pragma once

#include "gateway/SocketPlatform.h"

#include <optional>
#include <stdexcept>
#include <string>

// A requesting client for tests: writes raw bytes, reads one answer line.
class TestClient
{
public:
    explicit TestClient(std::uint16_t port, gateway::Family family = gateway::Family::IPv4)
        : m_socket(gateway::openStream(family))
    {
        gateway::connectLoopback(m_socket, family, port);
    }

    void send(std::string_view bytes) { gateway::sendAll(m_socket, bytes); }
    void shutdownSending() { gateway::shutdownSending(m_socket); }
    void reset() { gateway::abortConnection(m_socket); }

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
