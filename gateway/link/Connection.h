#pragma once

#include "gateway/base/Settings.h"
#include "gateway/base/Text.h"
#include "gateway/platform/SocketPlatform.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace gateway {

// A TCP connection with its input buffer and closed-by-peer flag. Its operations are used by
// one thread at a time; only close() and interrupt() may come from another thread.
class Connection
{
public:
    Connection() = default;
    // peer: the address the connection came from, for the records that name it.
    explicit Connection(Socket socket, std::optional<Endpoint> peer = std::nullopt);

    const std::optional<Endpoint>& peer() const { return m_peer; }

    // The text of every buffered byte, removed from the buffer; never waits, never touches
    // the socket.
    Text takeBufferedText();
    // The text of the first count buffered bytes (at most all of them), removed from the buffer.
    Text takeBufferedText(std::size_t count);
    // The buffered bytes as they came, left in the buffer.
    std::string_view bufferedBytes() const { return m_input; }
    // The first count buffered bytes (at most all of them) as they came, removed from the buffer.
    std::string takeBufferedBytes(std::size_t count = std::string::npos);
    // Waits until the socket is readable, wake is raised or waitMs passes, and receives nothing;
    // a closed socket is never readable. Safe while another thread reads the buffer.
    Readiness waitReadable(int waitMs, const WakeSignal* wake) const;
    // The text and CR LF, sent at once. Throws EIdConnClosedGracefully when the peer has
    // closed or the socket is closed, the socket error when a send fails.
    void writeLine(TextView text);
    // The bytes as they are, sent at once; a peer that has ended its sending side may still
    // read them. Throws EIdConnClosedGracefully once the socket is closed here, the socket error
    // when a send fails.
    void writeBytes(std::string_view bytes);
    // Returns when a new byte has been received, the connection is found not connected,
    // waitMs has passed or wake is raised. Running out of time is no failure. One receive takes
    // at most maxBytes.
    void waitForData(int waitMs, const WakeSignal* wake = nullptr,
                     std::size_t maxBytes = settings::receiveSize);
    // One receive step that waits at most waitMs (negative: until readable or woken), then
    // the connected test. A non-empty buffer makes the step not wait.
    bool poll(int waitMs = 0, const WakeSignal* wake = nullptr);
    // Three states, each asked by a different reader:
    // connected(): there is still something to take: buffered bytes, or an open socket whose
    // peer has not ended its stream. The handler loop runs while it holds, so a request that
    // arrived just before the peer closed is still served.
    bool connected() const;
    // The socket is ours and not closed here (by close()); safe to ask while another thread may
    // close it, as the link does while it waits for a reply.
    bool isOpen() const { return m_open.load(); }
    // The peer has ended its stream (a receive gave nothing); what it sent before is still
    // buffered, and its reading side may still be open.
    bool closedByPeer() const { return m_closedByPeer; }
    // The peer has reset the connection (or it was shut down here): nothing written now could
    // reach it. A peer that only ended its sending side can still read.
    bool peerReset() const { return m_open && hasHungUp(m_socket); }

    // Sending side shut down, then closed; safe against a concurrent close or interrupt.
    void close();
    // Only the sending side shut down: the peer sees the end of what was sent, and what it still
    // sends can be read.
    void endSending();
    // Shuts both directions down so that a blocked receive or send returns at once; the
    // owning thread closes the socket afterwards.
    void interrupt();

private:
    // Receives once, at most maxBytes, if readable within waitMs; true when bytes were added.
    bool receiveStep(int waitMs, const WakeSignal* wake,
                     std::size_t maxBytes = settings::receiveSize);

    mutable std::mutex m_socketMutex;
    Socket m_socket;
    std::atomic<bool> m_open{false};
    std::string m_input;
    bool m_closedByPeer = false;
    std::optional<Endpoint> m_peer;
};

} // namespace gateway
