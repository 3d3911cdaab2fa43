#include "gateway/LockLink.h"

#include "gateway/Errors.h"

namespace gateway {

namespace {

// Bounds the discard of stale data, so a server that never stops sending cannot hold an
// exchange forever.
constexpr int maxDiscardReceives = 64;

const Text discardedPrefix = u"Discarded stale data from the lock system: ";

} // namespace

LockLink::LockLink(std::string host, std::uint16_t port, LogSink log)
    : m_host(std::move(host)), m_port(port), m_log(std::move(log))
{
}

void LockLink::connect()
{
    Socket socket = openStream(Family::IPv4);
    setAddressReuse(socket, false);
    if (!bindWildcard(socket, Family::IPv4, 0)) {
        throw EIdCouldNotBindSocket(messages::couldNotBind);
    }
    connectIPv4(socket, resolveIPv4(m_host), m_port);
    std::lock_guard lock(m_exchangeMutex);
    m_connection.emplace(std::move(socket));
}

Text LockLink::exchange(TextView line, int waitMs)
{
    std::lock_guard lock(m_exchangeMutex);
    throwIfCancelled();
    if (!m_connection) {
        throw ELinkNotConnected(messages::linkNotConnected);
    }
    discardStaleData();
    m_connection->writeLine(line);
    m_connection->waitForData(waitMs, &m_cancelled);
    throwIfCancelled();
    return m_connection->takeBufferedText();
}

void LockLink::discardStaleData()
{
    for (int i = 0; i < maxDiscardReceives && m_connection->isOpen(); ++i) {
        std::size_t before = m_connection->bufferedBytes();
        m_connection->poll(0);
        if (m_connection->bufferedBytes() == before) {
            break;
        }
    }
    Text stale = m_connection->takeBufferedText();
    if (!stale.empty() && m_log) {
        m_log(discardedPrefix + stale);
    }
}

void LockLink::throwIfCancelled() const
{
    if (m_cancelled.raised()) {
        throw EAbort("Operation aborted");
    }
}

void LockLink::cancel()
{
    m_cancelled.raise();
}

void LockLink::close()
{
    std::lock_guard lock(m_exchangeMutex);
    if (m_connection) {
        m_connection->close();
    }
}

bool LockLink::isConnected() const
{
    std::lock_guard lock(m_exchangeMutex);
    return m_connection && m_connection->connected();
}

} // namespace gateway
