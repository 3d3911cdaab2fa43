#pragma once

#include "gateway/base/Histogram.h"
#include "gateway/base/Log.h"
#include "gateway/base/Text.h"
#include "gateway/link/Connection.h"
#include "gateway/link/LinkTurns.h"
#include "gateway/platform/SocketPlatform.h"
#include "gateway/protocol/ReplyFraming.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace gateway {

// What became of one exchange on the link.
struct LinkExchange
{
    enum class Outcome
    {
        // The line was written; reply holds what came back (possibly nothing).
        Replied,
        // The link was not free, or not in step, to write the line before its deadline: nothing
        // was sent.
        NotSentInTime,
        // The requester was gone when the turn came: nothing was sent.
        RequesterGone,
    };
    Outcome outcome = Outcome::Replied;
    Text reply;
};

// What the link has done since the program started, for those who watch it from afar.
struct LinkCounts
{
    std::uint64_t connects = 0;
    // Connections found closed or broken (not those renewed after a reply that came too late).
    std::uint64_t losses = 0;
    // Bytes nobody asked for, discarded.
    std::uint64_t staleBytes = 0;
    // Replies that came after their wait was over, discarded.
    std::uint64_t lateReplies = 0;
    // When the link last came up or went down; none before the first connect's outcome.
    std::optional<std::chrono::system_clock::time_point> changedAt;
};

// The one long-lived connection to the lock system's interface server. It is connected once
// and never again, unless letGoWhenLost() asks that a lost one be connected anew. Exchanges take
// turns in the order they came, and each takes the reply to its own line and nothing else: a reply
// is awaited until it is whole and read from its start (ReplyFraming), bytes nobody asked for are
// discarded and logged, and after a reply that did not come in time no line is written until it
// has come late or the link has been silent for a further reply wait.
//
// Between exchanges a thread of its own watches the link, so that bytes nobody asked for, the
// server's end of stream and a reset are noticed when they happen (within a second), not by the
// next request, and so that a late reply's silence is counted from its last byte's arrival.
class LockLink
{
public:
    using Clock = std::chrono::steady_clock;

    LockLink(std::string host, std::uint16_t port, LogSink log);
    ~LockLink();
    LockLink(const LockLink&) = delete;
    LockLink& operator=(const LockLink&) = delete;

    // Told once for each connection that is found closed or broken, with why, on the thread that
    // found it (an exchange's or the watch's). Set before the first connect.
    using LossSink = std::function<void(const std::string& why)>;
    void setLossSink(LossSink sink) { m_lossSink = std::move(sink); }
    // From now on a lost connection is let go at once: until connect() succeeds again every
    // exchange fails at once with ELinkNotConnected instead of trying the dead connection.
    void letGoWhenLost() { m_letGoWhenLost = true; }
    // From now on a connection out of step after a reply that did not come in time is closed,
    // told through the sink, and connected anew before the next line is written (by the watch
    // when the link is idle, else by the next exchange): then no late reply can reach a later
    // request, and none is waited for. A renewal that fails is a loss.
    void renewWhenOutOfStep(LossSink sink) { m_outOfStepSink = std::move(sink); }
    // Each connect attempt gives up after this long (error 10060); zero: the system's own limit.
    void setConnectTimeout(std::chrono::milliseconds timeout) { m_connectTimeout = timeout; }

    // Blocks until the connect attempt ends, or abandon is raised (EAbort). Throws
    // EIdCouldNotBindSocket or the socket error (10061 "Connection refused." when nothing
    // listens). A new connection replaces the old one, and nothing of the old one carries
    // over: not its bytes, not a late reply it still owed.
    void connect(const WakeSignal* abandon = nullptr);

    // Waits for the link's turn and for any late reply, but writes the line no later than
    // sendBy; right before writing it asks requesterGone, when given.
    // Then awaits the reply for at most waitMs. Throws ELinkNotConnected when the link never
    // connected, while a lost one is let go, or when one out of step cannot be connected anew;
    // EIdConnClosedGracefully once the server has closed it, the socket error when it breaks,
    // EAbort once cancelled. written, when given, is set once the whole line has been handed to
    // the system, so that a failure afterwards is known to have come after the line went out.
    // log, when given, takes what the link logs during the exchange (bytes discarded, a late
    // reply), so that it stays with the lines of the request it held up.
    LinkExchange exchange(TextView line, int waitMs, Clock::time_point sendBy,
                          const std::function<bool()>& requesterGone = {}, bool* written = nullptr,
                          const LogSink* log = nullptr);

    // Ends every running, waiting and later exchange at once with EAbort; used when shutdown
    // cannot wait any longer.
    void cancel();
    // Stops the watch and closes the link; the last step of shutdown.
    void close();

    bool isConnected() const;
    // Connected and not lost, without waiting for a running exchange.
    bool isUp() const { return m_up; }
    // Whether any connect has succeeded in this run.
    bool everConnected() const { return m_everConnected; }
    LinkCounts counts() const;
    // From each line written to its reply's end (or the wait's).
    const TimeHistogram& replyTimes() const { return m_replyTimes; }
    // Whether the watch between exchanges has made a round within the given time: a stuck
    // watch (or one stopped by close()) is not alive.
    bool watchAlive(Clock::duration within) const;

private:
    // Takes in what the link holds: a late reply to its end, then whatever else came, discarded
    // and logged, until the link is quiet. True once the link is in step again, false when sendBy
    // came first.
    bool settle(Clock::time_point sendBy);
    // Discards and logs the late reply's bytes in the buffer: those of the first lateLength
    // that were not the timed-out exchange's reply already.
    void endLateReply(std::size_t lateLength);
    // The late reply as far as it has come, ended when it is whole, the link closed or its time
    // is over; true while it is still awaited.
    bool lateReplyPending();
    Text awaitReply(int waitMs);
    // The reply in these bytes, as the link's quiet since its last byte makes it.
    ReplyProgress progressOf(std::string_view bytes) const;
    // The late reply as far as it has come: the bytes that came in time and those buffered since.
    ReplyProgress lateReplyProgress() const;
    // When to look at a reply again: at until, or sooner when a short one's quiet time ends.
    Clock::time_point nextLook(const ReplyProgress& progress, Clock::time_point until) const;
    // Receives for at most until (now: only what is there); true when bytes came.
    bool receiveUntil(Clock::time_point until);
    // Bytes nobody asked for: counted, the first of them kept for the log line.
    void discard(std::string_view bytes);
    // Logs the discarded bytes as one line.
    void reportDiscarded();
    // To the running exchange's log when it has one, else to the link's.
    void logLine(TextView line) const;
    void throwIfCancelled() const;
    // The connection is closed or broken: told once, and let go when asked.
    void noteLoss(const std::string& why);
    // After a time-out with renewWhenOutOfStep: the connection is closed and told as out of step.
    void noteOutOfStep(const std::string& why);
    // The link has just come up or gone down.
    void noteChange();
    // A connected socket, within the connect time-out and by deadline; throws as connect() does.
    Socket openConnection(Clock::time_point deadline, const WakeSignal* abandon) const;
    // With the turn and the connection mutex held: the connection out of step is replaced. A
    // failure is noted as a loss and thrown.
    void renew(Clock::time_point deadline, const WakeSignal* abandon);
    // With the connection mutex held: a new connection in place, in step.
    void install(Socket socket);

    // The watch: between exchanges it looks at the link once a round after the last look
    // (an exchange's included), taking the turn only when the link is idle, so a request never
    // waits for it and a reply never wakes it. While a late reply or a discarded burst is
    // awaited it waits for the link to become readable, so their bytes are taken as they come.
    void watch();
    void watchRound();
    // With the connection mutex held: what arrived between exchanges.
    void takeInBetweenExchanges();
    void stopWatch();

    const std::string m_host;
    const std::uint16_t m_port;
    const LogSink m_log;
    // The running exchange's log, while it holds the connection.
    const LogSink* m_exchangeLog = nullptr;
    WakeSignal m_cancelled;
    LinkTurns m_turns;
    // Held by the turn's holder while it uses the connection, and by connect, close and
    // isConnected.
    mutable std::mutex m_connectionMutex;
    // Empty until the one connect succeeds, and while a lost connection is let go. Shared with
    // the watch while it waits for the connection to become readable, so that it stays whole
    // however the exchanges go on meanwhile.
    std::shared_ptr<Connection> m_connection;
    LossSink m_lossSink;
    LossSink m_outOfStepSink;
    bool m_letGoWhenLost = false;
    bool m_lossNoted = false;
    // The connection was closed out of step and is to be connected anew.
    bool m_renewPending = false;
    std::chrono::milliseconds m_connectTimeout{0};
    // Read without the connection mutex, so that requests fail at once while the link is down.
    std::atomic<bool> m_down{false};
    std::atomic<bool> m_up{false};
    std::atomic<bool> m_everConnected{false};
    // When the last byte arrived (the watch reads between exchanges, so reading is arriving).
    Clock::time_point m_lastByteAt;
    // When an exchange or the watch last took in what the link held.
    Clock::time_point m_lastLookAt;
    // Set while a reply that did not come in time may still come: until when it is waited
    // for (a further reply wait after the exchange, or after the last byte of it), and the
    // bytes of it that came in time (already that exchange's reply).
    std::optional<Clock::time_point> m_lateReplyUntil;
    std::chrono::milliseconds m_lateReplyWait{0};
    std::string m_lateReplyHead;
    // When the last byte nobody asked for arrived: a line waits until the link has been quiet
    // since then.
    Clock::time_point m_lastDiscardedAt;
    std::atomic<std::uint64_t> m_connects{0};
    std::atomic<std::uint64_t> m_losses{0};
    std::atomic<std::uint64_t> m_staleBytes{0};
    std::atomic<std::uint64_t> m_lateReplies{0};
    // System-clock ticks of the last change of m_up; 0 before the first.
    std::atomic<std::chrono::system_clock::rep> m_changedAt{0};
    TimeHistogram m_replyTimes;
    // Discarded bytes not yet logged: how many, and the first of them.
    std::size_t m_discardedCount = 0;
    std::string m_discardedHead;

    // Raised when the watch must look again: a connection came or is to be renewed, or the watch
    // is to stop.
    WakeSignal m_watchWake;
    std::atomic<bool> m_watchStopping{false};
    std::atomic<Clock::rep> m_watchRoundAt;
    std::thread m_watch;
};

} // namespace gateway
