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
        return std::string(reasons::stopped);
    }
    if (dynamic_cast<const EDOMParseError*>(&failure) ||
        dynamic_cast<const EXMLDocError*>(&failure) ||
        dynamic_cast<const EConvertError*>(&failure)) {
        return std::string(reasons::requestNotReadable);
    }
    switch (stage) {
    case KeyRequestHandler::Stage::Reading:
    case KeyRequestHandler::Stage::Answering:
        return std::string(reasons::frontDeskGone);
    case KeyRequestHandler::Stage::OnTheLink:
        break;
    }
    return std::string(reasons::linkDown);
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
        const auto took = std::chrono::steady_clock::now() - began;
        record.took = std::chrono::duration_cast<std::chrono::milliseconds>(took);
        m_metrics.observe(record, took);
        if (m_recordSink) {
            m_recordSink(record);
        }
    };
    Ending ending = Ending::Unanswered;
    // The run's lines go out together after its answer, before its record: the answer waits
    // for neither.
    LogBatch log(m_log, m_logLines);
    try {
        ending = answer(client, progress, log);
        log.flush();
    } catch (const std::exception& failure) {
        log.flush();
        m_tally.countUnanswered();
        if (progress.requestRead) {
            record.answer = KeyRecord::Answer::None;
            record.reason = reasonForFailure(failure, progress.stage);
            record.failure = describeFailure(failure);
            finish();
        }
        throw;
    } catch (...) {
        log.flush();
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

KeyRequestHandler::Ending KeyRequestHandler::answer(Connection& client, Progress& progress,
                                                    LogBatch& log)
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
    // Shown at once: a request waiting for the link is seen waiting, by the operator too. The
    // rest of the run goes out together once it is answered.
    log.add(request.text);
    log.flush();
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
        line, sendBy, [&client] { return client.peerReset(); }, &record.lineSent, code, log);
    progress.stage = Stage::Answering;
    switch (exchange.outcome) {
    case LinkExchange::Outcome::RequesterGone:
        // No answer could reach it; the connection loop finds the reset and ends.
        log.add(requesterGoneLine);
        record.reason = reasons::frontDeskGone;
        return Ending::Unanswered;
    case LinkExchange::Outcome::NotSentInTime:
        log.add(notSentInTimeLine(m_replyWaitMs));
        record.reason = reasons::notSentInTime;
        client.writeLine(makeKeyAnswer(u""));
        record.answer = KeyRecord::Answer::NotMade;
        log.add(summary);
        return Ending::NotMade;
    case LinkExchange::Outcome::Replied:
        break;
    }
    record.code = code;
    client.writeLine(makeKeyAnswer(code));
    const bool made = isSuccessCode(code);
    record.answer = made ? KeyRecord::Answer::Made : KeyRecord::Answer::NotMade;
    log.add(summary);
    return made ? Ending::Made : Ending::NotMade;
}

LinkExchange KeyRequestHandler::exchangeLine(TextView line, LockLink::Clock::time_point sendBy,
                                             const std::function<bool()>& requesterGone,
                                             bool* lineSent, Text& code, LogBatch& log)
{
    const LogSink linkLog = log.sink();
    LinkExchange exchange =
        m_link.exchange(line, m_replyWaitMs, sendBy, requesterGone, lineSent, &linkLog);
    if (exchange.outcome == LinkExchange::Outcome::Replied) {
        log.add(exchange.reply);
        code = resultCode(exchange.reply);
        log.add(code);
    }
    return exchange;
}

void KeyRequestHandler::sendTestCommand()
{
    const TestCommand command = testCommand();
    LogBatch log(m_log, m_logLines);
    // Shown at once, as a request's text is: the operator sees the send waiting.
    log.add(command.summary);
    log.flush();
    const auto sendBy = LockLink::Clock::now() + std::chrono::milliseconds(m_replyWaitMs);
    Text code;
    const LinkExchange exchange = exchangeLine(command.line, sendBy, {}, nullptr, code, log);
    if (exchange.outcome != LinkExchange::Outcome::Replied) {
        log.add(testNotSentLine);
    }
}

Text KeyRequestHandler::latestRequestText() const
{
    std::lock_guard lock(m_latestRequestMutex);
    return m_latestRequestText;
}

} // namespace gateway
