#include "gateway/KeyRequestHandler.h"

#include "gateway/base/Errors.h"
#include "gateway/base/ReadableText.h"
#include "gateway/platform/ProcessFacts.h"
#include "gateway/protocol/DocumentProgress.h"
#include "gateway/protocol/EncoderLine.h"
#include "gateway/protocol/KeyAnswer.h"
#include "gateway/protocol/KeyRequestDocument.h"
#include "gateway/protocol/ResultCode.h"

#include <exception>
#include <functional>
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

const Text testNotSentLine =
    u"Test command not sent to the lock system: the link was not free in time";

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
TakenRequest takeRequest(Connection& client, const std::function<void()>& found)
{
    TakenRequest request{client.takeBufferedText(), {}, {}};
    if (request.text.empty()) {
        return request;
    }
    found();
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

namespace {

std::string reasonForFailure(const std::exception& failure, KeyRequestHandler::Stage stage)
{
    if (dynamic_cast<const EAbort*>(&failure)) {
        return "stopped";
    }
    if (dynamic_cast<const EDOMParseError*>(&failure) ||
        dynamic_cast<const EXMLDocError*>(&failure) ||
        dynamic_cast<const EConvertError*>(&failure)) {
        return "request not readable";
    }
    switch (stage) {
    case KeyRequestHandler::Stage::Reading:
    case KeyRequestHandler::Stage::Answering:
        return "front desk gone";
    case KeyRequestHandler::Stage::OnTheLink:
        break;
    }
    return "link down";
}

} // namespace

void KeyRequestHandler::run(Connection& client)
{
    Progress progress;
    KeyRecord& record = progress.record;
    record.received = std::chrono::system_clock::now();
    const auto began = std::chrono::steady_clock::now();
    const auto finish = [&] {
        record.answered = std::chrono::system_clock::now();
        record.took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - began);
        if (m_recordSink) {
            m_recordSink(record);
        }
    };
    Ending ending = Ending::Unanswered;
    try {
        ending = answer(client, progress);
    } catch (const std::exception& failure) {
        m_tally.countUnanswered();
        if (progress.requestRead) {
            record.answer = KeyRecord::Answer::None;
            record.reason = reasonForFailure(failure, progress.stage);
            record.failure = describeFailure(failure);
            finish();
        }
        throw;
    } catch (...) {
        m_tally.countUnanswered();
        throw;
    }
    switch (ending) {
    case Ending::NoRequest:
        return;
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
    finish();
}

KeyRequestHandler::Ending KeyRequestHandler::answer(Connection& client, Progress& progress)
{
    KeyRecord& record = progress.record;
    TakenRequest request = takeRequest(client, [&] {
        progress.requestRead = true;
        record.frontDesk = client.peer();
    });
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
    record.request = request.values;
    if (request.failure) {
        std::rethrow_exception(request.failure);
    }

    const KeyRequestValues& values = *request.values;
    // Read once for the request, so that both dates are completed with the same year.
    EncoderFields fields = deriveFields(values, localYearNow());
    record.firstLineDate = fields.toDateField;
    record.secondLineDate = fields.toDateField;
    const Text line = assembleLine(fields, values.folio);
    const Text summary = summaryLine(fields.roomField, fields.fromDateField, fields.toDateField);
    progress.stage = Stage::OnTheLink;
    Text code;
    const LinkExchange exchange = exchangeLine(
        line, sendBy, [&client] { return client.peerReset(); }, &record.lineSent, code);
    progress.stage = Stage::Answering;
    switch (exchange.outcome) {
    case LinkExchange::Outcome::RequesterGone:
        // No answer could reach it; the connection loop finds the reset and ends.
        m_log(requesterGoneLine);
        record.reason = "front desk gone";
        return Ending::Unanswered;
    case LinkExchange::Outcome::NotSentInTime:
        m_log(notSentInTimeLine(m_replyWaitMs));
        record.reason = "not sent in time";
        client.writeLine(makeKeyAnswer(u""));
        record.answer = KeyRecord::Answer::NotMade;
        m_log(summary);
        return Ending::NotMade;
    case LinkExchange::Outcome::Replied:
        break;
    }
    record.code = code;
    client.writeLine(makeKeyAnswer(code));
    const bool made = isSuccessCode(code);
    record.answer = made ? KeyRecord::Answer::Made : KeyRecord::Answer::NotMade;
    m_log(summary);
    return made ? Ending::Made : Ending::NotMade;
}

LinkExchange KeyRequestHandler::exchangeLine(TextView line, LockLink::Clock::time_point sendBy,
                                             const std::function<bool()>& requesterGone,
                                             bool* lineSent, Text& code)
{
    LinkExchange exchange = m_link.exchange(line, m_replyWaitMs, sendBy, requesterGone, lineSent);
    if (exchange.outcome == LinkExchange::Outcome::Replied) {
        m_log(exchange.reply);
        code = resultCode(exchange.reply);
        m_log(code);
    }
    return exchange;
}

void KeyRequestHandler::sendTestCommand()
{
    const TestCommand command = testCommand();
    m_log(command.summary);
    const auto sendBy = LockLink::Clock::now() + std::chrono::milliseconds(m_replyWaitMs);
    Text code;
    const LinkExchange exchange = exchangeLine(command.line, sendBy, {}, nullptr, code);
    if (exchange.outcome != LinkExchange::Outcome::Replied) {
        m_log(testNotSentLine);
    }
}

Text KeyRequestHandler::latestRequestText() const
{
    std::lock_guard lock(m_latestRequestMutex);
    return m_latestRequestText;
}

} // namespace gateway
