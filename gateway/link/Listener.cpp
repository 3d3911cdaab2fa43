#include "gateway/link/Listener.h"

#include "gateway/base/Errors.h"
#include "gateway/base/ReadableText.h"
#include "gateway/base/SocketErrorText.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace gateway {

namespace {

// Pause after a refused accept, so a lasting refusal (no descriptors left) cannot spin.
constexpr int acceptRetryWaitMs = 250;
// The longest an accept thread waits before it begins another round.
constexpr int acceptRoundMs = 1000;

const std::string notAllowed = "the address is not among those allowed";

std::string peerText(const std::optional<Endpoint>& peer)
{
    return peer ? endpointText(*peer) : "an unknown address";
}

} // namespace

Listener::Listener(std::uint16_t port, Handler handler, int terminateWaitMs)
    : m_port(port), m_handler(std::move(handler)), m_terminateWaitMs(terminateWaitMs)
{
}

Listener::~Listener()
{
    shutdown();
}

void Listener::start()
{
    if (!m_handler) {
        throw EIdTCPNoOnExecute(messages::noOnExecute);
    }
    if (isActive()) {
        return;
    }
    std::vector<IpAddress> addresses = m_addresses;
    if (addresses.empty()) {
        addresses.push_back(IpAddress::any(Family::IPv4));
        if (ipv6Available()) {
            addresses.push_back(IpAddress::any(Family::IPv6));
        }
    }

    std::vector<std::unique_ptr<Binding>> bindings;
    std::uint16_t port = m_port;
    for (const IpAddress& address : addresses) {
        auto binding = std::make_unique<Binding>();
        binding->socket = openStream(address.family);
        claimListeningPort(binding->socket);
        if (address.family == Family::IPv6) {
            // IPv4 peers belong to the IPv4 socket, so that both can hold the port.
            setV6Only(binding->socket);
        }
        SystemReason refusal;
        if (!bindAddress(binding->socket, address, port, &refusal)) {
            throw EIdCouldNotBindSocket(messages::couldNotBind, refusal.number,
                                        std::move(refusal.text));
        }
        port = localPort(binding->socket);
        bindings.push_back(std::move(binding));
    }
    for (auto& binding : bindings) {
        listenOn(binding->socket, settings::listenBacklog);
    }

    m_port = port;
    m_stop = std::make_unique<WakeSignal>();
    m_bindings = std::move(bindings);
    for (auto& binding : m_bindings) {
        binding->roundAt = std::chrono::steady_clock::now().time_since_epoch().count();
        binding->thread = std::thread([this, b = binding.get()] { acceptLoop(*b); });
    }
}

void Listener::acceptLoop(Binding& binding)
{
    while (!m_stop->raised()) {
        binding.roundAt = std::chrono::steady_clock::now().time_since_epoch().count();
        try {
            // Bounded, so that the round's beat shows the thread is alive.
            reportHeldBackRefusals();
            if (waitReadable(binding.socket, acceptRoundMs, m_stop.get()) != Readiness::Readable) {
                continue;
            }
            int refusal = 0;
            Socket accepted = acceptFrom(binding.socket, &refusal);
            if (!accepted.isOpen()) {
                reportRefusal(refusal);
                waitForWake(*m_stop, acceptRetryWaitMs);
                continue;
            }
            m_refusalReports.reset();
            admit(std::move(accepted));
        } catch (const std::exception&) {
            // A failed pass is dropped; the loop goes on after a pause so it cannot spin.
            waitForWake(*m_stop, acceptRetryWaitMs);
        }
    }
}

void Listener::admit(Socket accepted)
{
    const std::optional<Endpoint> peer = peerEndpoint(accepted);
    if (!m_peerFilter.allowsEveryone() && !(peer && m_peerFilter.allows(peer->address))) {
        m_refusedNotAllowed.fetch_add(1, std::memory_order_relaxed);
        reportRefusedPeer(peer);
        return; // closed here, unread
    }
    std::lock_guard lock(m_sessionsMutex);
    if (m_stop->raised()) {
        return;
    }
    // Counted by open sockets: a place is free once its socket is closed here, before its peer
    // can see it closed, so a front desk that connects again at once is not refused for it.
    const auto open = [this] {
        return static_cast<std::size_t>(
            std::count_if(m_sessions.begin(), m_sessions.end(),
                          [](const Session& session) { return session.connection.isOpen(); }));
    };
    if (m_maxConnections > 0 && open() >= m_maxConnections) {
        m_refusedOverLimit.fetch_add(1, std::memory_order_relaxed);
        if (const std::optional<int> heldBack = m_limitReports.admit(); heldBack && m_statusSink) {
            m_statusSink(
                "refused a connection from " + peerText(peer) + ": " +
                std::to_string(m_maxConnections) + " connections are open, the most allowed" +
                (*heldBack > 0
                     ? " (" + std::to_string(*heldBack) + " more refused since the last such line)"
                     : std::string()));
        }
        return;
    }
    auto session = m_sessions.emplace(m_sessions.end(), std::move(accepted), peer);
    // Assigned under the lock, which the new thread needs before it can end.
    try {
        session->thread = std::thread([this, session] { connectionLoop(session); });
    } catch (...) {
        // No thread could be made (out of threads or memory): the connection is closed at once,
        // so it neither waits unserved nor holds the shutdown for ever.
        m_sessions.erase(session);
        throw;
    }
}

void Listener::reportRefusedPeer(const std::optional<Endpoint>& peer)
{
    if (!m_statusSink) {
        return;
    }
    const IpAddress address = peer ? peer->address.unmapped() : IpAddress{};
    if (const std::optional<int> heldBack = m_peerRefusals.admit(address)) {
        m_statusSink("refused a connection from " + peerText(peer) + ": " + notAllowed +
                     (*heldBack > 0 ? " (" + std::to_string(*heldBack) + " more from " +
                                          addressText(address) + " since the last such line)"
                                    : std::string()));
    }
}

void Listener::reportHeldBackRefusals()
{
    if (!m_statusSink || m_peerFilter.allowsEveryone()) {
        return;
    }
    for (const RefusalReports::HeldBack& held : m_peerRefusals.flushDue()) {
        m_statusSink("refused " + std::to_string(held.count) + " more connection" +
                     (held.count == 1 ? "" : "s") + " from " +
                     (held.address ? addressText(*held.address) : std::string("other addresses")) +
                     " in the last minute: " + notAllowed);
    }
}

bool Listener::acceptingAlive(std::chrono::steady_clock::duration within) const
{
    if (m_bindings.empty() || !m_stop || m_stop->raised()) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    return std::all_of(m_bindings.begin(), m_bindings.end(), [&](const auto& binding) {
        const std::chrono::steady_clock::time_point roundAt{
            std::chrono::steady_clock::duration(binding->roundAt.load())};
        return now - roundAt <= within;
    });
}

void Listener::reportRefusal(int refusal)
{
    // A connection given up by its client before it was accepted is no lasting condition.
    constexpr int abortedBeforeAccept = 10053;
    if (!m_statusSink || refusal == abortedBeforeAccept) {
        return;
    }
    if (const std::optional<int> heldBack = m_refusalReports.admit()) {
        // The message is made here, not by an EIdSocketError: with no descriptor left, the
        // sanitizers' runtimes cannot check a new polymorphic object.
        m_statusSink("cannot accept connections on port " + std::to_string(m_port) + ": " +
                     oneLine(socketErrorMessage(refusal)) + "; they wait in the system's queue" +
                     (*heldBack > 0 ? " (" + std::to_string(*heldBack) +
                                          " more refusals since the last such line)"
                                    : std::string()));
    }
}

void Listener::connectionLoop(SessionList::iterator session)
{
    Connection& connection = session->connection;
    try {
        for (;;) {
            try {
                m_handler(connection);
            } catch (const std::exception& failure) {
                if (m_failureSink) {
                    m_failureSink(session->peer, failure);
                }
                throw;
            }
            // A handler that closed the connection is done with it, whatever is still buffered.
            if (!connection.isOpen() && !connection.closedByPeer()) {
                break;
            }
            // Waits for bytes, the peer's end of stream or the listener's stop; an idle
            // connection costs nothing while it waits.
            bool connected = connection.poll(m_idleMs > 0 ? m_idleMs : -1, m_stop.get());
            if (!connected || m_stop->raised()) {
                break;
            }
            if (m_idleMs > 0 && connection.bufferedBytes().empty()) {
                break; // nothing came within the idle time
            }
        }
    } catch (...) {
        // A failed run or poll ends the connection without a word to the client.
    }
    connection.close();
    std::thread previous;
    {
        std::lock_guard lock(m_sessionsMutex);
        previous = std::exchange(m_endedThread, std::move(session->thread));
        m_sessions.erase(session);
    }
    m_sessionEnded.notify_all();
    if (previous.joinable()) {
        previous.join();
    }
}

void Listener::shutdown()
{
    if (!isActive()) {
        return;
    }
    m_stop->raise();
    for (auto& binding : m_bindings) {
        binding->roundAt = std::chrono::steady_clock::now().time_since_epoch().count();
        binding->thread.join();
        binding->socket.close();
    }

    std::unique_lock lock(m_sessionsMutex);
    for (auto& session : m_sessions) {
        session.connection.interrupt();
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_terminateWaitMs);
    auto allEnded = [this] { return m_sessions.empty(); };
    if (!m_sessionEnded.wait_until(lock, deadline, allEnded)) {
        if (m_overdueAction) {
            lock.unlock();
            m_overdueAction();
            lock.lock();
        }
        m_sessionEnded.wait(lock, allEnded);
    }
    std::thread last = std::move(m_endedThread);
    lock.unlock();
    if (last.joinable()) {
        last.join();
    }
    m_bindings.clear();
}

std::size_t Listener::liveConnections() const
{
    std::lock_guard lock(m_sessionsMutex);
    return m_sessions.size();
}

} // namespace gateway
