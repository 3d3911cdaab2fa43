#pragma once

#include "gateway/KeyRecord.h"
#include "gateway/RequestMetrics.h"
#include "gateway/RequestTally.h"
#include "gateway/base/Log.h"
#include "gateway/base/LogBatch.h"
#include "gateway/base/Settings.h"
#include "gateway/base/Text.h"
#include "gateway/link/Connection.h"
#include "gateway/link/LockLink.h"

#include <functional>
#include <mutex>

namespace gateway {

// One handler run per call: takes the request text buffered on the requesting connection
// (gathering a request that arrives in pieces), exchanges its encoder command line with the
// lock system and writes the key answer. A failure leaves as an exception and no answer is
// written.
class KeyRequestHandler
{
public:
    KeyRequestHandler(LockLink& link, LogSink log, int replyWaitMs = settings::replyWaitMs);

    // Counts how the request ended; a failure leaves as an exception all the same.
    void run(Connection& client);

    // The operator's test send: the fixed test command's summary is logged, its line goes over
    // the link within the reply wait as a request's does, and the reply and its result code are
    // logged. Nothing is answered, counted or recorded. Throws the link's failure.
    void sendTestCommand();

    // The request text taken by the latest run on any connection.
    Text latestRequestText() const;
    // Told of every request that was read, with what became of it, on its connection's thread
    // once the run is over (answered or not). Set before the first run.
    void setRecordSink(KeyRecordSink sink) { m_recordSink = std::move(sink); }
    // Takes each run's log lines together: the request's text once it is taken, the rest once
    // its answer is written (a test send's once it is over); without it they go to the log sink
    // one by one, at the same moments. Set before the first run.
    void setLogLinesSink(LogLinesSink sink) { m_logLines = std::move(sink); }

    // Where a run was when it failed, which tells why no answer came.
    enum class Stage
    {
        Reading,
        OnTheLink,
        Answering,
    };
    RequestCounts counts() const { return m_tally.counts(); }
    // How the requests read ended, by reason, and how long they took.
    const RequestMetrics& metrics() const { return m_metrics; }

private:
    enum class Ending
    {
        NoRequest,
        Made,
        NotMade,
        Unanswered,
    };
    struct Progress
    {
        KeyRecord record;
        Stage stage = Stage::Reading;
        bool requestRead = false;
    };
    Ending answer(Connection& client, Progress& progress, LogBatch& log);
    // One line's turn on the link, the reply wait counted from sendBy; on a reply, the reply
    // and its result code are logged and the code is kept in code. What the link logs during
    // the turn goes into the batch too, in its place.
    LinkExchange exchangeLine(TextView line, LockLink::Clock::time_point sendBy,
                              const std::function<bool()>& requesterGone, bool* lineSent,
                              Text& code, LogBatch& log);

    LockLink& m_link;
    const LogSink m_log;
    LogLinesSink m_logLines;
    const int m_replyWaitMs;
    mutable std::mutex m_latestRequestMutex;
    Text m_latestRequestText;
    RequestTally m_tally;
    RequestMetrics m_metrics;
    KeyRecordSink m_recordSink;
};

} // namespace gateway
