#include "gateway/link/Connection.h"

#include "gateway/base/Errors.h"
#include "gateway/base/LineEncoding.h"
#include "gateway/base/Settings.h"

#include <algorithm>
#include <memory>

namespace gateway {

Connection::Connection(Socket socket, std::optional<Endpoint> peer)
    : m_socket(std::move(socket)), m_open(m_socket.isOpen()), m_peer(peer)
{
}

Text Connection::takeBufferedText()
{
    Text text = decodeBytes(m_input);
    m_input.clear();
    return text;
}

Text Connection::takeBufferedText(std::size_t count)
{
    count = std::min(count, m_input.size());
    Text text = decodeBytes(std::string_view(m_input).substr(0, count));
    m_input.erase(0, count);
    return text;
}

std::string Connection::takeBufferedBytes(std::size_t count)
{
    count = std::min(count, m_input.size());
    std::string bytes = m_input.substr(0, count);
    m_input.erase(0, count);
    return bytes;
}

Readiness Connection::waitReadable(int waitMs, const WakeSignal* wake) const
{
    // The handle is read under the socket's lock, as the owning thread may close it meanwhile;
    // the wait then works on a borrowed copy that is never closed here. A socket closed during
    // the wait ends it with its time-out at the latest (or, on Windows, a socket error).
    struct Borrowed
    {
        Socket socket;
        ~Borrowed() { socket.release(); }
    } borrowed;
    {
        std::lock_guard lock(m_socketMutex);
        if (!m_open) {
            return Readiness::TimedOut;
        }
        borrowed.socket = Socket(m_socket.handle());
    }
    return gateway::waitReadable(borrowed.socket, waitMs, wake);
}

void Connection::writeLine(TextView text)
{
    std::string bytes = encodeLine(text);
    if (m_closedByPeer || !m_open) {
        throw EIdConnClosedGracefully(messages::connClosedGracefully);
    }
    sendAll(m_socket, bytes);
}

void Connection::writeBytes(std::string_view bytes)
{
    if (!m_open) {
        throw EIdConnClosedGracefully(messages::connClosedGracefully);
    }
    sendAll(m_socket, bytes);
}

void Connection::waitForData(int waitMs, const WakeSignal* wake, std::size_t maxBytes)
{
    // One readiness wait: bytes already there make it return at once, so a look that must not
    // wait costs one system call when nothing has come.
    receiveStep(waitMs, wake, maxBytes);
}

bool Connection::poll(int waitMs, const WakeSignal* wake)
{
    receiveStep(m_input.empty() ? waitMs : 0, wake);
    return connected();
}

bool Connection::connected() const
{
    return !m_input.empty() || (m_open && !m_closedByPeer);
}

bool Connection::receiveStep(int waitMs, const WakeSignal* wake, std::size_t maxBytes)
{
    if (!m_open) {
        return false;
    }
    if (gateway::waitReadable(m_socket, waitMs, wake) != Readiness::Readable) {
        return false;
    }
    // Uninitialised scratch, freed at once, rather than growing the buffer by a whole receive
    // size: only what a receive writes is touched, and an idle connection keeps none of it.
    maxBytes = std::clamp<std::size_t>(maxBytes, 1, settings::receiveSize);
    auto scratch = std::make_unique_for_overwrite<char[]>(maxBytes);
    std::size_t received = receiveSome(m_socket, scratch.get(), maxBytes);
    m_input.append(scratch.get(), received);
    if (received == 0) {
        m_closedByPeer = true;
        close();
        return false;
    }
    return true;
}

void Connection::close()
{
    std::lock_guard lock(m_socketMutex);
    m_open = false;
    m_socket.close();
}

void Connection::endSending()
{
    std::lock_guard lock(m_socketMutex);
    if (m_open) {
        shutdownSending(m_socket);
    }
}

void Connection::interrupt()
{
    std::lock_guard lock(m_socketMutex);
    m_socket.shutdownBoth();
}

} // namespace gateway
