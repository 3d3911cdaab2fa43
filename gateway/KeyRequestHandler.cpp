#include "gateway/KeyRequestHandler.h"

#include "gateway/EncoderLine.h"
#include "gateway/KeyAnswer.h"
#include "gateway/KeyRequestDocument.h"
#include "gateway/ResultCode.h"

namespace gateway {

KeyRequestHandler::KeyRequestHandler(LockLink& link, LogSink log, int replyWaitMs)
    : m_link(link), m_log(std::move(log)), m_replyWaitMs(replyWaitMs)
{
}

void KeyRequestHandler::run(Connection& client)
{
    Text request = client.takeBufferedText();
    {
        std::lock_guard lock(m_dataMutex);
        m_data = request;
    }
    if (request.empty()) {
        return;
    }
    m_log(request);

    KeyRequestValues values = readKeyRequest(request);
    EncoderFields fields = deriveFields(values);
    Text reply = m_link.exchange(assembleLine(fields, values.folio), m_replyWaitMs);
    m_log(reply);
    Text code = resultCode(reply);
    m_log(code);
    client.writeLine(makeKeyAnswer(code));
    m_log(summaryLine(fields.roomField, fields.fromDateField, fields.toDateField));
}

Text KeyRequestHandler::data() const
{
    std::lock_guard lock(m_dataMutex);
    return m_data;
}

} // namespace gateway
