#include "gateway/KeyRequestHandler.h"

#include "gateway/DocumentProgress.h"
#include "gateway/EncoderLine.h"
#include "gateway/Errors.h"
#include "gateway/KeyAnswer.h"
#include "gateway/KeyRequestDocument.h"
#include "gateway/ResultCode.h"

#include <exception>
#include <optional>
#include <string>

namespace gateway {

namespace {

Text notSentInTimeLine(int replyWaitMs)
{
    const std::string ms = std::to_string(replyWaitMs);
    return u"Not sent to the lock system: the link was not free within " +
           Text(ms.begin(), ms.end()) + u" ms; answered that no key was made";
}

const Text requesterGoneLine =
    u"Not sent to the lock system: the requesting client has reset its connection";

struct TakenRequest
{
    Text text;
    std::optional<KeyRequestValues> values;
    std::exception_ptr failure;
    // Only a text that is not well-formed may be one still arriving.
    bool malformed = false;
};

void read(TakenRequest& request)
{
    request.values.reset();
    request.failure = nullptr;
    request.malformed = false;
    try {
        request.values = readKeyRequest(request.text);
    } catch (const EDOMParseError&) {
        request.failure = std::current_exception();
        request.malformed = true;
    } catch (...) {
        // Logged before it leaves the run, like every failure after the request was taken.
        request.failure = std::current_exception();
    }
}

// The buffered text, read as a key request. A text that fails only because it ends inside
// the document is a request still arriving: what follows within gatherWaitMs of the last
// piece is added, up to receiveSize bytes in all, and the whole is read again.
TakenRequest takeRequest(Connection& client)
{
    TakenRequest request{client.takeBufferedText(), {}, {}};
    if (request.text.empty()) {
        return request;
    }
    read(request);
    if (!request.malformed || request.text.size() >= settings::receiveSize) {
        return request;
    }
    DocumentProgress progress;
    progress.add(request.text);
    const std::size_t firstPiece = request.text.size();
    while (progress.endsInsideDocument() && request.text.size() < settings::receiveSize) {
        client.waitForData(settings::gatherWaitMs, nullptr,
                           settings::receiveSize - request.text.size());
        const Text more = client.takeBufferedText();
        if (more.empty()) {
            break;
        }
        progress.add(more);
        request.text += more;
    }
    if (request.text.size() > firstPiece) {
        read(request);
    }
    return request;
}

} // namespace

KeyRequestHandler::KeyRequestHandler(LockLink& link, LogSink log, int replyWaitMs)
    : m_link(link), m_log(std::move(log)), m_replyWaitMs(replyWaitMs)
{
}

void KeyRequestHandler::run(Connection& client)
{
    Ending ending = Ending::Unanswered;
    try {
        ending = answer(client);
    } catch (...) {
        m_tally.countUnanswered();
        throw;
    }
    switch (ending) {
    case Ending::NoRequest:
        break;
    case Ending::Made:
        m_tally.countMade();
        break;
    case Ending::NotMade:
        m_tally.countNotMade();
        break;
    case Ending::Unanswered:
        m_tally.countUnanswered();
        break;
    }
}

KeyRequestHandler::Ending KeyRequestHandler::answer(Connection& client)
{
    TakenRequest request = takeRequest(client);
    {
        std::lock_guard lock(m_latestRequestMutex);
        m_latestRequestText = request.text;
    }
    if (request.text.empty()) {
        return Ending::NoRequest;
    }
    // The request's own time on the link starts once it is all here.
    const auto sendBy = LockLink::Clock::now() + std::chrono::milliseconds(m_replyWaitMs);
    m_log(request.text);
    if (request.failure) {
        std::rethrow_exception(request.failure);
    }

    const KeyRequestValues& values = *request.values;
    EncoderFields fields = deriveFields(values);
    const Text line = assembleLine(fields, values.folio);
    const Text summary = summaryLine(fields.roomField, fields.fromDateField, fields.toDateField);
    const LinkExchange exchange =
        m_link.exchange(line, m_replyWaitMs, sendBy, [&client] { return client.peerReset(); });
    switch (exchange.outcome) {
    case LinkExchange::Outcome::RequesterGone:
        // No answer could reach it; the connection loop finds the reset and ends.
        m_log(requesterGoneLine);
        return Ending::Unanswered;
    case LinkExchange::Outcome::NotSentInTime:
        m_log(notSentInTimeLine(m_replyWaitMs));
        client.writeLine(makeKeyAnswer(u""));
        m_log(summary);
        return Ending::NotMade;
    case LinkExchange::Outcome::Replied:
        break;
    }
    m_log(exchange.reply);
    Text code = resultCode(exchange.reply);
    m_log(code);
    client.writeLine(makeKeyAnswer(code));
    m_log(summary);
    return isSuccessCode(code) ? Ending::Made : Ending::NotMade;
}

Text KeyRequestHandler::latestRequestText() const
{
    std::lock_guard lock(m_latestRequestMutex);
    return m_latestRequestText;
}

} // namespace gateway
