#pragma once

#include "gateway/base/AddressRange.h"
#include "gateway/base/IpAddress.h"
#include "gateway/base/ReportThrottle.h"
#include "gateway/base/Settings.h"
#include "gateway/link/Connection.h"
#include "gateway/link/RefusalReports.h"
#include "gateway/platform/SocketPlatform.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace gateway {

// Connections the listener closed unserved since it was made.
struct RefusalCounts
{
    // From an address not allowed.
    std::uint64_t notAllowed = 0;
    // Beyond the most connections at once.
    std::uint64_t overLimit = 0;
};

// The request listener: one listening socket and accept thread per address family, one
// thread per requesting connection running the handler, then a readiness wait, for as long
// as the connection lasts.
class Listener
{
public:
    using Handler = std::function<void(Connection&)>;

    // port 0 lets the system choose one (tests); every family then shares the chosen port.
    Listener(std::uint16_t port, Handler handler, int terminateWaitMs = settings::terminateWaitMs);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Runs when the shutdown has waited terminateWaitMs for connection threads and some are
    // still busy; it must make their runs end (the gateway cancels link exchanges).
    void setOverdueAction(std::function<void()> action) { m_overdueAction = std::move(action); }

    // Told of every handler run that fails, on that connection's thread, with the peer's
    // address; the connection is closed without a word all the same. Set before start().
    using FailureSink = std::function<void(const std::string& peer, const std::exception& failure)>;
    void setFailureSink(FailureSink sink) { m_failureSink = std::move(sink); }

    // Told, as one line, of what keeps the listener from accepting connections (no descriptors
    // left) and of the connections it refuses (an address not allowed, one too many): each at
    // most once a minute, with counts of those held back. Set before start().
    using StatusSink = std::function<void(const std::string& line)>;
    void setStatusSink(StatusSink sink) { m_statusSink = std::move(sink); }

    // Closes a connection on which nothing has arrived for idleMs since its last run (0: never,
    // as front-desk programs may keep their connection between requests). Set before start().
    void setIdleTimeout(int idleMs) { m_idleMs = idleMs; }

    // The addresses to listen on, one socket each; none: the wildcard address of each family the
    // system offers. Set before start().
    void setAddresses(std::vector<IpAddress> addresses) { m_addresses = std::move(addresses); }
    // Whom to serve: a connection from elsewhere is closed before a byte of it is read. Set
    // before start().
    void setPeerFilter(PeerFilter filter) { m_peerFilter = std::move(filter); }
    // The most connections served at once (0: no limit); one beyond it is closed at once and the
    // live ones go on. Set before start().
    void setMaxConnections(std::size_t most) { m_maxConnections = most; }

    // Throws EIdTCPNoOnExecute without a handler, EIdCouldNotBindSocket when a bind fails,
    // the socket error when listen fails; sockets bound by then are closed again.
    void start();
    // Stops accepting, closes every requesting connection, wakes idle connection threads and
    // waits for all of them; bounded by terminateWaitMs and the overdue action.
    void shutdown();

    bool isActive() const { return !m_bindings.empty(); }
    // Whether every accept thread has made a round within the given time; a stuck one (or a
    // listener not started) is not alive.
    bool acceptingAlive(std::chrono::steady_clock::duration within) const;
    std::uint16_t port() const { return m_port; }
    std::size_t liveConnections() const;
    RefusalCounts refusals() const
    {
        return {m_refusedNotAllowed.load(), m_refusedOverLimit.load()};
    }

private:
    struct Binding
    {
        Socket socket;
        std::thread thread;
        // When the accept thread last began a round (steady clock ticks).
        std::atomic<std::chrono::steady_clock::rep> roundAt{0};
    };
    struct Session
    {
        Connection connection;
        std::string peer;
        std::thread thread;

        Session(Socket socket, std::optional<Endpoint> endpoint)
            : connection(std::move(socket), endpoint),
              peer(endpoint ? endpointText(*endpoint) : "unknown")
        {
        }
    };
    using SessionList = std::list<Session>;

    void acceptLoop(Binding& binding);
    // Serves the accepted connection on a thread of its own, or closes it when it is not to be
    // served.
    void admit(Socket accepted);
    void reportRefusal(int refusal);
    void reportRefusedPeer(const std::optional<Endpoint>& peer);
    void reportHeldBackRefusals();
    void connectionLoop(SessionList::iterator session);

    std::uint16_t m_port;
    const Handler m_handler;
    const int m_terminateWaitMs;
    std::function<void()> m_overdueAction;
    FailureSink m_failureSink;
    StatusSink m_statusSink;
    ReportThrottle m_refusalReports{std::chrono::minutes(1)};
    int m_idleMs = 0;
    std::vector<IpAddress> m_addresses;
    PeerFilter m_peerFilter;
    std::size_t m_maxConnections = 0;
    std::atomic<std::uint64_t> m_refusedNotAllowed{0};
    std::atomic<std::uint64_t> m_refusedOverLimit{0};
    RefusalReports m_peerRefusals{std::chrono::minutes(1)};
    ReportThrottle m_limitReports{std::chrono::minutes(1)};
    std::unique_ptr<WakeSignal> m_stop;
    std::vector<std::unique_ptr<Binding>> m_bindings;
    mutable std::mutex m_sessionsMutex;
    std::condition_variable m_sessionEnded;
    SessionList m_sessions;
    // The thread of the session that ended last; the next one to end joins it, so ended
    // threads never pile up unjoined.
    std::thread m_endedThread;
};

} // namespace gateway
