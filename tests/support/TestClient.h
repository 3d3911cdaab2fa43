#pragma once

#include "gateway/platform/SocketPlatform.h"
#include "tools/support/ReadUntil.h"

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

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
        std::string line;
        gateway::ReadEnd end = gateway::ReadEnd::Closed;
        try {
            end = gateway::readUntil(m_socket, "\r\n",
                                     std::chrono::steady_clock::now() +
                                         std::chrono::milliseconds(timeoutMs),
                                     m_pending, line);
        } catch (const std::exception&) {
            // A reset connection is closed as well.
        }
        m_closed = end == gateway::ReadEnd::Closed;
        if (end != gateway::ReadEnd::Found) {
            return std::nullopt;
        }
        return line;
    }

    // Everything that comes until the other end closes (the rest after earlier lines too); none
    // when it has not closed within timeoutMs. A reset counts as a close.
    std::optional<std::string> readToClose(int timeoutMs = 10000)
    {
        // A terminator no text answer holds: the read ends only at the close.
        constexpr std::string_view never("\0\0\0\0", 4);
        std::string unused;
        gateway::ReadEnd end = gateway::ReadEnd::Closed;
        try {
            end = gateway::readUntil(m_socket, never,
                                     std::chrono::steady_clock::now() +
                                         std::chrono::milliseconds(timeoutMs),
                                     m_pending, unused);
        } catch (const std::exception&) {
        }
        if (end == gateway::ReadEnd::TimedOut) {
            return std::nullopt;
        }
        return std::exchange(m_pending, {});
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
