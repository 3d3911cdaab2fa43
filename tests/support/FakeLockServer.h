#pragma once

#include "gateway/platform/SocketPlatform.h"
#include "support/SocketPair.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// An in-process lock-system server on a loopback port. Each received line (up to CR LF) is
// recorded and handed to the responder, whose answer, if any, is sent at once. Tests can also
// send, close or reset the connection themselves.
class FakeLockServer
{
public:
    using Responder = std::function<std::optional<std::string>(const std::string& line)>;

    // A reply whose characters 13 to 15 hold the code.
    static std::string replyWithCode(const std::string& code)
    {
        return "\x02"
               "200000001RS" +
               code + "\x03\x04";
    }

    // port 0: one the system chooses; a given port lets a test bring a server back where an
    // earlier one was.
    explicit FakeLockServer(
        Responder responder =
            [](const std::string&) { return std::optional<std::string>(replyWithCode("001")); },
        std::uint16_t port = 0)
        : m_responder(std::move(responder)), m_listening(loopbackSocket(port))
    {
        gateway::listenOn(m_listening, 4);
        m_port = gateway::localPort(m_listening);
        m_thread = std::thread([this] { serve(); });
    }

    ~FakeLockServer()
    {
        m_stop.raise();
        m_thread.join();
    }

    std::uint16_t port() const { return m_port; }

    void setResponder(Responder responder)
    {
        std::lock_guard lock(m_mutex);
        m_responder = std::move(responder);
    }

    bool waitForLines(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_lines.size() >= count; });
    }

    std::vector<std::string> lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

    void send(std::string_view bytes)
    {
        std::lock_guard lock(m_mutex);
        gateway::sendAll(m_peer, bytes);
    }

    // One piece of a reply, sent after a pause.
    struct Piece
    {
        std::chrono::milliseconds pause;
        std::string bytes;
    };
    // A responder that sends the pieces the script gives for a line, each after its pause, on
    // the serving thread: a server that answers in order and as slowly as the pieces say. The
    // pauses end early when the server stops.
    Responder inPieces(std::function<std::vector<Piece>(const std::string& line)> script)
    {
        return [this, script = std::move(script)](const std::string& line) {
            for (const Piece& piece : script(line)) {
                if (gateway::waitForWake(m_stop, static_cast<int>(piece.pause.count()))) {
                    break;
                }
                try {
                    send(piece.bytes);
                } catch (const std::exception&) {
                    break; // the gateway is gone; so is the rest of the reply
                }
            }
            return std::optional<std::string>();
        };
    }

    // Ends the stream in order, as a server that closes its end does.
    void closeConnection()
    {
        std::lock_guard lock(m_mutex);
        m_peer.shutdownBoth();
    }

    // From a responder: resets the connection once the current line is handled, so the
    // gateway's next receive fails.
    void resetConnection() { m_resetRequested = true; }

    // Waits until count connections have been accepted in all.
    bool waitForConnections(std::size_t count,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_accepted >= count; });
    }

    bool waitForPeer(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_peer.isOpen(); });
    }

private:
    void serve()
    {
        while (gateway::waitReadable(m_listening, -1, &m_stop) == gateway::Readiness::Readable) {
            gateway::Socket accepted = gateway::acceptFrom(m_listening);
            {
                std::lock_guard lock(m_mutex);
                m_peer = std::move(accepted);
                ++m_accepted;
            }
            m_changed.notify_all();
            std::string pending;
            char buffer[65536];
            // Only this thread replaces m_peer, so it may read it without the lock.
            while (gateway::waitReadable(m_peer, -1, &m_stop) == gateway::Readiness::Readable) {
                std::size_t received = 0;
                try {
                    received = gateway::receiveSome(m_peer, buffer, sizeof buffer);
                } catch (const std::exception&) {
                    break;
                }
                if (received == 0) {
                    break;
                }
                pending.append(buffer, received);
                std::size_t end;
                while ((end = pending.find("\r\n")) != std::string::npos) {
                    std::string line = pending.substr(0, end);
                    pending.erase(0, end + 2);
                    handleLine(line);
                }
                if (m_resetRequested) {
                    break;
                }
            }
            if (m_resetRequested) {
                std::lock_guard lock(m_mutex);
                gateway::abortConnection(m_peer);
                m_resetRequested = false;
            }
            if (m_stop.raised()) {
                return;
            }
        }
    }

    void handleLine(const std::string& line)
    {
        std::unique_lock lock(m_mutex);
        m_lines.push_back(line);
        Responder responder = m_responder;
        lock.unlock();
        m_changed.notify_all();
        if (auto reply = responder(line)) {
            lock.lock();
            gateway::sendAll(m_peer, *reply);
        }
    }

    Responder m_responder;
    gateway::Socket m_listening;
    std::uint16_t m_port = 0;
    gateway::WakeSignal m_stop;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    gateway::Socket m_peer;
    std::vector<std::string> m_lines;
    std::size_t m_accepted = 0;
    bool m_resetRequested = false; // touched by the serving thread only
    std::thread m_thread;
};
