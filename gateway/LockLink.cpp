#include "gateway/LockLink.h"

#include "gateway/Errors.h"
#include "gateway/ReadableText.h"
#include "gateway/ReplyFraming.h"

#include <algorithm>
#include <utility>

namespace gateway {

namespace {

// Bounds one drain of what the link holds, so a server that never stops sending cannot hold an
// exchange forever.
constexpr int maxDiscardReceives = 64;

const Text staleDataPrefix = u"Discarded stale data from the lock system: ";
const Text lateReplyPrefix =
    u"Discarded a late reply from the lock system; a key may have been made for the previous "
    u"request: ";

int millisecondsUntil(LockLink::Clock::time_point until)
{
    // Rounded up: a wait cut to 0 ms before its end would turn into a busy loop.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - LockLink::Clock::now()).count();
    return static_cast<int>(std::clamp<std::int64_t>(left, 0, 24 * 60 * 60 * 1000));
}

} // namespace

LockLink::LockLink(std::string host, std::uint16_t port, LogSink log)
    : m_host(std::move(host)), m_port(port), m_log(std::move(log))
{
}

void LockLink::connect(const WakeSignal* abandon)
{
    Socket socket = openStream(Family::IPv4);
    enableLinkKeepAlive(socket);
    setAddressReuse(socket, false);
    SystemReason refusal;
    if (!bindWildcard(socket, Family::IPv4, 0, &refusal)) {
        throw EIdCouldNotBindSocket(messages::couldNotBind, refusal.number,
                                    std::move(refusal.text));
    }
    connectIPv4(socket, resolveIPv4(m_host), m_port, abandon);
    std::lock_guard lock(m_connectionMutex);
    m_connection.emplace(std::move(socket));
    m_lateReplyUntil.reset();
    m_lateReplyHead.clear();
    m_lossNoted = false;
    m_down = false;
}

LinkExchange LockLink::exchange(TextView line, int waitMs, Clock::time_point sendBy,
                                const std::function<bool()>& requesterGone)
{
    if (m_down) {
        throw ELinkNotConnected(messages::linkNotConnected);
    }
    if (!m_turns.acquire(sendBy)) {
        throwIfCancelled();
        return {LinkExchange::Outcome::NotSentInTime, {}};
    }
    LinkTurn turn(m_turns);
    std::lock_guard lock(m_connectionMutex);
    throwIfCancelled();
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
        LinkExchange exchange{LinkExchange::Outcome::Replied, awaitReply(waitMs)};
        if (!m_connection->isOpen()) {
            // The reply is what the server left; the next exchange must not find it closed.
            noteLoss(std::string("EIdConnClosedGracefully: ") + messages::connClosedGracefully);
        }
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
    if (m_letGoWhenLost) {
        m_down = true;
        m_connection.reset();
    }
    if (m_lossSink) {
        m_lossSink(why);
    }
}

bool LockLink::settle(Clock::time_point sendBy)
{
    while (m_lateReplyUntil) {
        drainAvailable();
        // A late reply that has begun is waited for to its end: its rest would otherwise
        // become the next line's reply. The wait ends once the link has been silent that long.
        m_lateReplyUntil = std::max(*m_lateReplyUntil, m_lastByteAt + m_lateReplyWait);
        const std::string late = m_lateReplyHead + std::string(m_connection->bufferedBytes());
        const ReplyProgress progress = progressOf(late);
        const auto now = Clock::now();
        if (progress.shape == ReplyShape::Complete || !m_connection->isOpen() ||
            now >= *m_lateReplyUntil) {
            endLateReply(progress.shape == ReplyShape::Complete ? progress.length : late.size());
            break;
        }
        if (now >= sendBy) {
            return false;
        }
        receiveUntil(nextLook(progress, std::min(sendBy, *m_lateReplyUntil)));
    }
    drainAvailable();
    Text stale = m_connection->takeBufferedText();
    if (!stale.empty() && m_log) {
        m_log(staleDataPrefix + stale);
    }
    return Clock::now() < sendBy;
}

void LockLink::endLateReply(std::size_t lateLength)
{
    const Text rest = m_connection->takeBufferedText(lateLength - m_lateReplyHead.size());
    if (!rest.empty() && m_log) {
        m_log(lateReplyPrefix + rest);
    }
    m_lateReplyUntil.reset();
    m_lateReplyHead.clear();
}

Text LockLink::awaitReply(int waitMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const ReplyProgress progress = progressOf(m_connection->bufferedBytes());
        if (progress.shape == ReplyShape::Complete) {
            return m_connection->takeBufferedText(progress.length);
        }
        // A closed link sends nothing more: what it left is the reply.
        if (!m_connection->isOpen()) {
            return m_connection->takeBufferedText();
        }
        const auto now = Clock::now();
        if (now >= deadline) {
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
    throwIfCancelled();
    if (m_connection->bufferedBytes().size() == before) {
        return false;
    }
    m_lastByteAt = Clock::now();
    return true;
}

void LockLink::drainAvailable()
{
    for (int i = 0; i < maxDiscardReceives && receiveUntil(Clock::now()); ++i) {
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
    m_turns.cancel();
}

void LockLink::close()
{
    std::lock_guard lock(m_connectionMutex);
    if (m_connection) {
        m_connection->close();
    }
}

bool LockLink::isConnected() const
{
    std::lock_guard lock(m_connectionMutex);
    return m_connection && m_connection->connected();
}

} // namespace gateway
