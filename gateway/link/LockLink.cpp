#include "gateway/link/LockLink.h"

#include "gateway/base/Errors.h"
#include "gateway/base/LineEncoding.h"
#include "gateway/base/ReadableText.h"
#include "gateway/protocol/ReplyFraming.h"

#include <algorithm>
#include <utility>

namespace gateway {

namespace {

// The watch makes a round at least this often: the longest that bytes nobody asked for, or a
// lost connection, go unnoticed, and the beat that tells the watch is alive.
constexpr std::chrono::seconds watchRoundLength{1};
// A discarded burst is logged with this many of its bytes at most: a flood must not become a
// log line of megabytes.
constexpr std::size_t discardedShown = 256;
// A connect waits this long at most for a running exchange to end before its connection goes in.
constexpr std::chrono::minutes connectTurnWait{1};

const Text staleDataPrefix = u"Discarded stale data from the lock system: ";
const Text lateReplyPrefix =
    u"Discarded a late reply from the lock system; a key may have been made for the previous "
    u"request: ";

// How a connection that the lock system ended is told, as describeFailure tells the error.
const std::string closedByServer =
    std::string("EIdConnClosedGracefully: ") + messages::connClosedGracefully;

int millisecondsUntil(LockLink::Clock::time_point until)
{
    // Rounded up: a wait cut to 0 ms before its end would turn into a busy loop.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - LockLink::Clock::now()).count();
    return static_cast<int>(std::clamp<std::int64_t>(left, 0, 24 * 60 * 60 * 1000));
}

Text asText(std::size_t number)
{
    const std::string digits = std::to_string(number);
    return Text(digits.begin(), digits.end());
}

} // namespace

LockLink::LockLink(std::string host, std::uint16_t port, LogSink log)
    : m_host(std::move(host)), m_port(port), m_log(std::move(log)),
      m_watchRoundAt(Clock::now().time_since_epoch().count())
{
    m_watch = std::thread([this] { watch(); });
}

LockLink::~LockLink()
{
    stopWatch();
}

Socket LockLink::openConnection(Clock::time_point deadline, const WakeSignal* abandon) const
{
    Socket socket = openStream(Family::IPv4);
    enableLinkKeepAlive(socket);
    setAddressReuse(socket, false);
    SystemReason refusal;
    if (!bindWildcard(socket, Family::IPv4, 0, &refusal)) {
        throw EIdCouldNotBindSocket(messages::couldNotBind, refusal.number,
                                    std::move(refusal.text));
    }
    const std::uint32_t address = resolveIPv4(m_host);
    if (m_connectTimeout.count() > 0 || deadline != Clock::time_point::max()) {
        auto until = deadline;
        if (m_connectTimeout.count() > 0) {
            until = std::min(until, Clock::now() + m_connectTimeout);
        }
        connectIPv4Within(socket, address, m_port, std::max(1, millisecondsUntil(until)), abandon);
    } else {
        connectIPv4(socket, address, m_port, abandon);
    }
    return socket;
}

void LockLink::connect(const WakeSignal* abandon)
{
    Socket socket = openConnection(Clock::time_point::max(), abandon);
    // In its turn, so that neither an exchange nor the watch is using the connection it replaces.
    if (!m_turns.acquire(Clock::now() + connectTurnWait)) {
        throw EAbort("Operation aborted");
    }
    LinkTurn turn(m_turns);
    std::lock_guard lock(m_connectionMutex);
    install(std::move(socket));
}

void LockLink::install(Socket socket)
{
    m_connection = std::make_shared<Connection>(std::move(socket));
    m_lateReplyUntil.reset();
    m_lateReplyHead.clear();
    m_discardedCount = 0;
    m_discardedHead.clear();
    m_lastByteAt = Clock::now();
    m_lastLookAt = m_lastByteAt;
    m_lossNoted = false;
    m_renewPending = false;
    m_down = false;
    m_up = true;
    m_everConnected = true;
    m_connects.fetch_add(1, std::memory_order_relaxed);
    noteChange();
    m_watchWake.raise();
}

void LockLink::renew(Clock::time_point deadline, const WakeSignal* abandon)
{
    try {
        install(openConnection(deadline, abandon));
    } catch (const EIdException& failure) {
        m_renewPending = false;
        m_lossNoted = false;
        noteLoss(describeFailure(failure));
        throw;
    }
}

LinkExchange LockLink::exchange(TextView line, int waitMs, Clock::time_point sendBy,
                                const std::function<bool()>& requesterGone, bool* written,
                                const LogSink* log)
{
    if (m_down) {
        throw ELinkNotConnected(messages::linkNotConnected);
    }
    if (!m_turns.acquire(sendBy)) {
        throwIfCancelled();
        return {LinkExchange::Outcome::NotSentInTime, {}};
    }
    // Raised once the turn and the connection are let go, so that the watch, woken, finds
    // them free.
    struct WatchWakeAfter
    {
        WakeSignal& wake;
        bool wanted = false;
        ~WatchWakeAfter()
        {
            if (wanted) {
                wake.raise();
            }
        }
    } watchWake{m_watchWake};
    LinkTurn turn(m_turns);
    std::lock_guard lock(m_connectionMutex);
    m_exchangeLog = log;
    struct ExchangeLogEnds
    {
        const LogSink*& current;
        ~ExchangeLogEnds() { current = nullptr; }
    } exchangeLogEnds{m_exchangeLog};
    throwIfCancelled();
    if (m_renewPending) {
        if (Clock::now() >= sendBy) {
            return {LinkExchange::Outcome::NotSentInTime, {}};
        }
        try {
            renew(sendBy, &m_cancelled);
        } catch (const EIdException&) {
            throw ELinkNotConnected(messages::linkNotConnected);
        }
    }
    if (!m_connection) {
        throw ELinkNotConnected(messages::linkNotConnected);
    }
    try {
        if (!settle(sendBy)) {
            return {LinkExchange::Outcome::NotSentInTime, {}};
        }
        if (requesterGone && requesterGone()) {
            return {LinkExchange::Outcome::RequesterGone, {}};
        }
        m_connection->writeLine(line);
        if (written) {
            *written = true;
        }
        const auto sentAt = Clock::now();
        LinkExchange exchange{LinkExchange::Outcome::Replied, awaitReply(waitMs)};
        m_replyTimes.observe(Clock::now() - sentAt);
        if (m_connection && !m_connection->isOpen()) {
            // The reply is what the server left; the next exchange must not find it closed.
            noteLoss(closedByServer);
        }
        // Bytes after the reply, a reply still owed, or a connection to renew: the watch takes
        // them in as they come. A reply in time leaves nothing, and the watch is not woken for
        // it.
        watchWake.wanted =
            m_renewPending || (m_connection && m_connection->isOpen() &&
                               (m_lateReplyUntil || !m_connection->bufferedBytes().empty()));
        return exchange;
    } catch (const EIdException& failure) {
        noteLoss(describeFailure(failure));
        throw;
    }
}

void LockLink::noteLoss(const std::string& why)
{
    if (m_lossNoted) {
        return;
    }
    m_lossNoted = true;
    m_up = false;
    m_losses.fetch_add(1, std::memory_order_relaxed);
    noteChange();
    reportDiscarded();
    if (m_letGoWhenLost) {
        m_down = true;
        m_connection.reset();
    }
    if (m_lossSink) {
        m_lossSink(why);
    }
}

void LockLink::noteOutOfStep(const std::string& why)
{
    m_lossNoted = true;
    m_up = false;
    noteChange();
    m_renewPending = true;
    m_connection.reset();
    m_watchWake.raise();
    if (m_outOfStepSink) {
        m_outOfStepSink(why);
    }
}

bool LockLink::lateReplyPending()
{
    // A late reply that has begun is waited for to its end: its rest would otherwise
    // become the next line's reply. The wait ends once the link has been silent that long.
    m_lateReplyUntil = std::max(*m_lateReplyUntil, m_lastByteAt + m_lateReplyWait);
    const ReplyProgress progress = lateReplyProgress();
    if (progress.shape == ReplyShape::Complete) {
        endLateReply(progress.stale + progress.length);
        return false;
    }
    if (!m_connection->isOpen() || Clock::now() >= *m_lateReplyUntil) {
        endLateReply(m_lateReplyHead.size() + m_connection->bufferedBytes().size());
        return false;
    }
    return true;
}

bool LockLink::settle(Clock::time_point sendBy)
{
    while (m_lateReplyUntil && lateReplyPending()) {
        if (Clock::now() >= sendBy) {
            return false;
        }
        receiveUntil(nextLook(lateReplyProgress(), std::min(sendBy, *m_lateReplyUntil)));
    }
    // Everything that has come is taken, and after bytes nobody asked for the line waits until
    // the link is quiet: a lock system still sending would have its bytes read as the reply. One
    // that never stops holds the line back until sendBy, and the request fails unsent.
    for (;;) {
        do {
            discard(m_connection->takeBufferedBytes());
        } while (Clock::now() < sendBy && receiveUntil(Clock::now()));
        const bool quiet = Clock::now() - m_lastDiscardedAt >= replyQuietTime;
        if (quiet || !m_connection->isOpen()) {
            break;
        }
        if (Clock::now() >= sendBy) {
            reportDiscarded();
            return false;
        }
        receiveUntil(std::min(sendBy, m_lastDiscardedAt + replyQuietTime));
    }
    reportDiscarded();
    return Clock::now() < sendBy;
}

void LockLink::endLateReply(std::size_t lateLength)
{
    const Text rest = m_connection->takeBufferedText(lateLength - m_lateReplyHead.size());
    if (!rest.empty()) {
        logLine(lateReplyPrefix + rest);
        m_lateReplies.fetch_add(1, std::memory_order_relaxed);
    }
    m_lateReplyUntil.reset();
    m_lateReplyHead.clear();
}

Text LockLink::awaitReply(int waitMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const ReplyProgress progress = progressOf(m_connection->bufferedBytes());
        if (progress.stale > 0) {
            // Left over from earlier bytes; the reply, if any, starts after them.
            discard(m_connection->takeBufferedBytes(progress.stale));
            continue;
        }
        if (progress.shape == ReplyShape::Complete) {
            reportDiscarded();
            return m_connection->takeBufferedText(progress.length);
        }
        // A closed link sends nothing more: what it left is the reply.
        if (!m_connection->isOpen()) {
            reportDiscarded();
            return m_connection->takeBufferedText();
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            reportDiscarded();
            if (m_outOfStepSink) {
                // A new connection is sooner in step than a late reply is waited for, and no
                // reply to this line can ever come over it.
                Text reply = m_connection->takeBufferedText();
                noteOutOfStep("no reply within " + std::to_string(waitMs) +
                              " ms, so a late one cannot reach a later request");
                return reply;
            }
            // Out of step: the reply may still come, and must not become the next one's.
            m_lateReplyHead = std::string(m_connection->bufferedBytes());
            m_lateReplyWait = std::chrono::milliseconds(waitMs);
            m_lateReplyUntil = now + m_lateReplyWait;
            return m_connection->takeBufferedText();
        }
        receiveUntil(nextLook(progress, deadline));
    }
}

ReplyProgress LockLink::progressOf(std::string_view bytes) const
{
    return replyProgress(bytes, Clock::now() - m_lastByteAt);
}

ReplyProgress LockLink::lateReplyProgress() const
{
    return progressOf(m_lateReplyHead + std::string(m_connection->bufferedBytes()));
}

LockLink::Clock::time_point LockLink::nextLook(const ReplyProgress& progress,
                                               Clock::time_point until) const
{
    // A short reply becomes whole when its quiet time is over.
    return progress.shape == ReplyShape::Short ? std::min(until, m_lastByteAt + replyQuietTime)
                                               : until;
}

bool LockLink::receiveUntil(Clock::time_point until)
{
    const std::size_t before = m_connection->bufferedBytes().size();
    m_connection->waitForData(millisecondsUntil(until), &m_cancelled);
    m_lastLookAt = Clock::now();
    throwIfCancelled();
    if (m_connection->bufferedBytes().size() == before) {
        return false;
    }
    m_lastByteAt = Clock::now();
    return true;
}

void LockLink::discard(std::string_view bytes)
{
    if (bytes.empty()) {
        return;
    }
    m_lastDiscardedAt = m_lastByteAt;
    m_staleBytes.fetch_add(bytes.size(), std::memory_order_relaxed);
    if (m_discardedHead.size() < discardedShown) {
        m_discardedHead += bytes.substr(0, discardedShown - m_discardedHead.size());
    }
    m_discardedCount += bytes.size();
}

void LockLink::reportDiscarded()
{
    if (m_discardedCount == 0) {
        return;
    }
    Text line = staleDataPrefix + decodeBytes(m_discardedHead);
    if (m_discardedCount > m_discardedHead.size()) {
        line += u" ... (" + asText(m_discardedCount) + u" bytes in all)";
    }
    logLine(line);
    m_discardedCount = 0;
    m_discardedHead.clear();
}

void LockLink::logLine(TextView line) const
{
    const LogSink& sink = m_exchangeLog ? *m_exchangeLog : m_log;
    if (sink) {
        sink(line);
    }
}

void LockLink::throwIfCancelled() const
{
    if (m_cancelled.raised()) {
        throw EAbort("Operation aborted");
    }
}

void LockLink::watch()
{
    while (!m_watchStopping) {
        m_watchRoundAt = Clock::now().time_since_epoch().count();
        try {
            watchRound();
        } catch (const EAbort&) {
            // Cancelled at shutdown: nothing more is taken in.
            return;
        }
    }
}

void LockLink::watchRound()
{
    // Cleared before the look: whatever comes after it raises the signal again, so none is
    // missed.
    m_watchWake.clear();
    if (m_watchStopping) {
        return;
    }
    auto lookUntil = Clock::now() + watchRoundLength;
    std::shared_ptr<Connection> watched;
    bool renewal = false;
    // A late reply or a discarded burst: its bytes are taken in as they come, and its time
    // may end without a byte coming.
    bool pending = false;
    // Bytes after a whole reply that the last exchange left: taken in without a wait.
    bool leftBehind = false;
    {
        // An exchange holds the connection for as long as it runs, and looks at the link
        // itself: the watch does not wait for it to end, so requests back to back never wake it.
        std::unique_lock lock(m_connectionMutex, std::try_to_lock);
        if (!lock.owns_lock()) {
            waitForWake(m_watchWake, millisecondsUntil(lookUntil));
            return;
        }
        renewal = m_renewPending;
        if (!renewal && m_connection && !m_lossNoted && m_connection->isOpen()) {
            watched = m_connection;
            leftBehind = !m_connection->bufferedBytes().empty() && !m_lateReplyUntil;
            pending = m_lateReplyUntil || m_discardedCount > 0;
            if (m_lateReplyUntil) {
                lookUntil = nextLook(lateReplyProgress(), std::min(lookUntil, *m_lateReplyUntil));
            }
            if (m_discardedCount > 0) {
                lookUntil = std::min(lookUntil, m_lastByteAt + replyQuietTime);
            }
            if (!pending && !leftBehind) {
                // Nothing is awaited: one look a round after the last one, an exchange's
                // included, is enough to notice bytes nobody asked for and a lost link within
                // a round, and the watch never waits on the socket that a reply wakes.
                const auto lookAt = m_lastLookAt + watchRoundLength;
                if (lookAt > Clock::now()) {
                    lock.unlock();
                    waitForWake(m_watchWake, millisecondsUntil(lookAt));
                    return;
                }
            }
        }
    }
    if (!renewal && !watched) {
        // Nothing to watch until a connect, which raises the wake signal.
        waitForWake(m_watchWake, millisecondsUntil(lookUntil));
        return;
    }
    if (watched && pending && !leftBehind) {
        Readiness readiness = Readiness::Readable;
        try {
            readiness = watched->waitReadable(millisecondsUntil(lookUntil), &m_watchWake);
        } catch (const EIdException&) {
            // Closed meanwhile by an exchange that found it lost: looked at below.
        }
        if (readiness == Readiness::Woken) {
            return;
        }
        if (readiness == Readiness::Readable && !m_turns.idle()) {
            // An exchange is taking its reply: look again once it is over.
            if (!m_turns.waitForIdle(Clock::now() + watchRoundLength) && m_cancelled.raised()) {
                throw EAbort("Operation aborted");
            }
            return;
        }
    }
    if (renewal) {
        if (!m_turns.acquireWhenIdle(Clock::now() + watchRoundLength)) {
            if (m_cancelled.raised()) {
                throw EAbort("Operation aborted");
            }
            return;
        }
    } else if (!m_turns.acquireWhenIdle(Clock::now())) {
        // An exchange has the link and looks at it itself.
        if (m_cancelled.raised()) {
            throw EAbort("Operation aborted");
        }
        return;
    }
    LinkTurn turn(m_turns);
    std::lock_guard lock(m_connectionMutex);
    if (renewal) {
        if (m_renewPending) {
            // Idle, so in step again before a request needs it.
            try {
                renew(Clock::time_point::max(), &m_cancelled);
            } catch (const EIdException&) {
                // Noted as a loss.
            }
        }
        return;
    }
    if (m_connection == watched && !m_lossNoted) {
        takeInBetweenExchanges();
    }
}

void LockLink::takeInBetweenExchanges()
{
    try {
        receiveUntil(Clock::now());
        if (!m_lateReplyUntil || !lateReplyPending()) {
            discard(m_connection->takeBufferedBytes());
        }
        if (Clock::now() - m_lastByteAt >= replyQuietTime) {
            reportDiscarded();
        }
        if (!m_connection->isOpen()) {
            noteLoss(closedByServer);
        }
    } catch (const EIdException& failure) {
        noteLoss(describeFailure(failure));
    }
}

void LockLink::stopWatch()
{
    m_watchStopping = true;
    m_watchWake.raise();
    m_turns.cancel();
    if (m_watch.joinable()) {
        m_watch.join();
    }
}

bool LockLink::watchAlive(Clock::duration within) const
{
    if (m_watchStopping) {
        return false;
    }
    const Clock::time_point lastRound{Clock::duration(m_watchRoundAt.load())};
    return Clock::now() - lastRound <= within;
}

void LockLink::cancel()
{
    m_cancelled.raise();
    m_turns.cancel();
    m_watchWake.raise();
}

void LockLink::close()
{
    stopWatch();
    std::lock_guard lock(m_connectionMutex);
    if (m_connection) {
        m_connection->close();
    }
    m_up = false;
}

void LockLink::noteChange()
{
    m_changedAt = std::chrono::system_clock::now().time_since_epoch().count();
}

LinkCounts LockLink::counts() const
{
    LinkCounts counts{m_connects.load(), m_losses.load(), m_staleBytes.load(), m_lateReplies.load(),
                      std::nullopt};
    if (const auto changedAt = m_changedAt.load(); changedAt != 0) {
        counts.changedAt =
            std::chrono::system_clock::time_point(std::chrono::system_clock::duration(changedAt));
    }
    return counts;
}

bool LockLink::isConnected() const
{
    std::lock_guard lock(m_connectionMutex);
    return m_connection && m_connection->connected();
}

} // namespace gateway
