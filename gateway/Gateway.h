#pragma once

#include "gateway/KeyRequestHandler.h"
#include "gateway/base/Log.h"
#include "gateway/base/Settings.h"
#include "gateway/link/Listener.h"
#include "gateway/link/LockLink.h"

#include <cstdint>
#include <string>
#include <vector>

namespace gateway {

struct GatewayOptions
{
    std::uint16_t listenerPort = settings::listenerPort;
    std::string linkHost = settings::linkHost;
    std::uint16_t linkPort = settings::linkPort;
    int replyWaitMs = settings::replyWaitMs;
    int terminateWaitMs = settings::terminateWaitMs;
    // 0: connections may stay idle for ever.
    int idleTimeoutMs = 0;
    // Each connect attempt of the link gives up after this long; 0: the system's own limit.
    int connectTimeoutMs = 0;
    // Where to listen (none: every address) and whom to serve (no range: everyone).
    std::vector<IpAddress> listenAddresses;
    PeerFilter allowedPeers;
    // The most front-desk connections at once; 0: no limit.
    std::size_t maxConnections = 0;
};

// The request listener, the lock-system link and the handler that joins them, shared by the
// program with a window and the one without.
class Gateway
{
public:
    // execute is what the listener runs on each requesting connection's thread; by default the
    // handler's run, which whatever stands in for it must call.
    Gateway(const GatewayOptions& options, LogSink log, Listener::Handler execute = {});
    ~Gateway();

    // The listener first: requests are served before the link is connected.
    void startListener();
    // Abandoned with EAbort once abandon is raised (a stop request during a connect that hangs).
    void connectLink(const WakeSignal* abandon = nullptr);
    // The operator's test send over the link (KeyRequestHandler::sendTestCommand), on the
    // caller's thread: it waits for the link's turn and the reply.
    void sendTestCommand() { m_handler.sendTestCommand(); }
    // The listener shut down (bounded) and every exchange on the link ended: what else uses the
    // link (a test send, a reconnect) can then be stopped before shutdown() closes it.
    void stopServing();
    // Listener shutdown (bounded), then the link is closed.
    void shutdown();

    // Told of every request that fails, with the peer's address; set before startListener().
    void setFailureSink(Listener::FailureSink sink) { m_listener.setFailureSink(std::move(sink)); }

    // Told of every request that was read, with what became of it; set before startListener().
    void setRecordSink(KeyRecordSink sink) { m_handler.setRecordSink(std::move(sink)); }
    // Takes a request's log lines together; set before startListener() (KeyRequestHandler).
    void setLogLinesSink(LogLinesSink sink) { m_handler.setLogLinesSink(std::move(sink)); }

    Listener& listener() { return m_listener; }
    LockLink& link() { return m_link; }
    const LockLink& link() const { return m_link; }
    const Listener& listener() const { return m_listener; }
    KeyRequestHandler& handler() { return m_handler; }
    const KeyRequestHandler& handler() const { return m_handler; }

private:
    LockLink m_link;
    KeyRequestHandler m_handler;
    Listener m_listener;
};

} // namespace gateway
