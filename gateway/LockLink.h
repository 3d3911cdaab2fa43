#pragma once

#include "gateway/Connection.h"
#include "gateway/LinkTurns.h"
#include "gateway/Log.h"
#include "gateway/ReplyFraming.h"
#include "gateway/SocketPlatform.h"
#include "gateway/Text.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace gateway {

// What became of one exchange on the link.
struct LinkExchange
{
    enum class Outcome
    {
        // The line was written; reply holds what came back (possibly nothing).
        Replied,
        // The link was not free to write the line before its deadline: nothing was sent.
        NotSentInTime,
        // The requester was gone when the turn came: nothing was sent.
        RequesterGone,
    };
    Outcome outcome = Outcome::Replied;
    Text reply;
};

// The one long-lived connection to the lock system's interface server. It is connected once
// and never again, unless letGoWhenLost() asks that a lost one be connected anew. Exchanges take
// turns in the order they came, and each takes the reply to its own line and nothing else: a reply
// is awaited until it is whole (ReplyFraming), bytes nobody asked for are discarded and logged
// before the next line, and after a reply that did not come in time no line is written until it has
// come late or the link has been silent for a further reply wait.
class LockLink
{
public:
    using Clock = std::chrono::steady_clock;

    LockLink(std::string host, std::uint16_t port, LogSink log);

    // Told once for each connection that an exchange finds closed or broken, with why, on
    // that exchange's thread. Set before the first exchange.
    using LossSink = std::function<void(const std::string& why)>;
    void setLossSink(LossSink sink) { m_lossSink = std::move(sink); }
    // From now on a lost connection is let go at once: until connect() succeeds again every
    // exchange fails at once with ELinkNotConnected instead of trying the dead connection.
    void letGoWhenLost() { m_letGoWhenLost = true; }

    // Blocks until the system's connect attempt ends, or abandon is raised (EAbort). Throws
    // EIdCouldNotBindSocket or the socket error (10061 "Connection refused." when nothing
    // listens). A new connection replaces the old one, and nothing of the old one carries
    // over: not its bytes, not a late reply it still owed.
    void connect(const WakeSignal* abandon = nullptr);

    // Waits for the link's turn and for any late reply, but writes the line no later than
    // sendBy; right before writing it asks requesterGone, when given. Then awaits the reply
    // for at most waitMs. Throws ELinkNotConnected when the link never connected,
    // or while a lost one is let go; EIdConnClosedGracefully once the server has closed it,
    // the socket error when it breaks, EAbort once cancelled.
    LinkExchange exchange(TextView line, int waitMs, Clock::time_point sendBy,
                          const std::function<bool()>& requesterGone = {});

    // Ends every running, waiting and later exchange at once with EAbort; used when shutdown
    // cannot wait any longer.
    void cancel();
    // Closes the link; the last step of shutdown.
    void close();

    bool isConnected() const;

private:
    // Takes in what the link holds: a late reply to its end, then whatever else came, discarded
    // and logged. True once the link is in step again, false when sendBy came first.
    bool settle(Clock::time_point sendBy);
    // Discards and logs the late reply's bytes in the buffer: those of the first lateLength
    // that were not the timed-out exchange's reply already.
    void endLateReply(std::size_t lateLength);
    Text awaitReply(int waitMs);
    // The reply in these bytes, as the link's quiet since its last byte makes it.
    ReplyProgress progressOf(std::string_view bytes) const;
    // When to look at a reply again: at until, or sooner when a short one's quiet time ends.
    Clock::time_point nextLook(const ReplyProgress& progress, Clock::time_point until) const;
    // Receives for at most until (now: only what is there); true when bytes came.
    bool receiveUntil(Clock::time_point until);
    // Takes in what the link holds now, without waiting.
    void drainAvailable();
    void throwIfCancelled() const;
    // The connection is closed or broken: told once, and let go when asked.
    void noteLoss(const std::string& why);

    const std::string m_host;
    const std::uint16_t m_port;
    const LogSink m_log;
    WakeSignal m_cancelled;
    LinkTurns m_turns;
    // Held by the turn's holder while it uses the connection, and by connect, close and
    // isConnected.
    mutable std::mutex m_connectionMutex;
    // Empty until the one connect succeeds, and while a lost connection is let go.
    std::optional<Connection> m_connection;
    LossSink m_lossSink;
    bool m_letGoWhenLost = false;
    bool m_lossNoted = false;
    // Read without the connection mutex, so that requests fail at once while the link is down.
    std::atomic<bool> m_down{false};
    Clock::time_point m_lastByteAt;
    // Set while a reply that did not come in time may still come: until when it is waited
    // for (a further reply wait after the exchange, or after the last byte of it), and the
    // bytes of it that came in time (already that exchange's reply).
    std::optional<Clock::time_point> m_lateReplyUntil;
    std::chrono::milliseconds m_lateReplyWait{0};
    std::string m_lateReplyHead;
};

} // namespace gateway
