#pragma once

#include "gateway/base/ReportThrottle.h"
#include "gateway/link/LockLink.h"
#include "gateway/platform/SocketPlatform.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace gateway {

// Connects the lock-system link again, in the background, once it is lost: at once, then
// every retry interval until a connect succeeds. Meanwhile the link fails requests at once.
// Each event is told as one status line; while connects keep failing, at most one line a
// reporting interval.
class LinkRecovery
{
public:
    using StatusSink = std::function<void(const std::string& line)>;

    // linkName (host:port) goes into every status line. Takes over the link's loss and
    // out-of-step sinks: a link out of step after a time-out is connected anew at once.
    LinkRecovery(LockLink& link, std::string linkName, std::chrono::milliseconds retryEvery,
                 StatusSink status,
                 std::chrono::milliseconds reportEvery = std::chrono::minutes(1));
    ~LinkRecovery();
    LinkRecovery(const LinkRecovery&) = delete;
    LinkRecovery& operator=(const LinkRecovery&) = delete;

    // Starts connecting in the background, at once: the start-up connect, or after a loss.
    void reconnect();
    // Abandons a running connect and ends the background thread; the link stays as it is.
    void stop();

    // Connect attempts made so far; waits until there are at least count, or timeout.
    int attempts() const;
    bool waitForAttempts(int count, std::chrono::milliseconds timeout) const;

private:
    void run();
    // One attempt; true once connected.
    bool attempt(int failedSoFar);

    LockLink& m_link;
    const std::string m_linkName;
    const std::chrono::milliseconds m_retryEvery;
    const StatusSink m_status;
    WakeSignal m_abandon;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_wanted = false;
    bool m_stopping = false;
    int m_attempts = 0;
    ReportThrottle m_failureReports;
    std::thread m_thread;
};

} // namespace gateway
