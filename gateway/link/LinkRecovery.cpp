#include "gateway/link/LinkRecovery.h"

#include "gateway/base/Errors.h"
#include "gateway/base/ReadableText.h"

namespace gateway {

namespace {

std::string secondsText(std::chrono::milliseconds span)
{
    const auto ms = span.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

} // namespace

LinkRecovery::LinkRecovery(LockLink& link, std::string linkName,
                           std::chrono::milliseconds retryEvery, StatusSink status,
                           std::chrono::milliseconds reportEvery)
    : m_link(link), m_linkName(std::move(linkName)), m_retryEvery(retryEvery),
      m_status(std::move(status)), m_failureReports(reportEvery)
{
    m_link.letGoWhenLost();
    m_link.setLossSink([this](const std::string& why) {
        m_status("lost the link to the lock system at " + m_linkName + ": " + oneLine(why) +
                 "; connecting again every " + secondsText(m_retryEvery));
        reconnect();
    });
    m_link.renewWhenOutOfStep([this](const std::string& why) {
        m_status("connecting anew to the lock system at " + m_linkName + ": " + why);
    });
    m_thread = std::thread([this] { run(); });
}

LinkRecovery::~LinkRecovery()
{
    stop();
}

void LinkRecovery::reconnect()
{
    {
        std::lock_guard lock(m_mutex);
        m_wanted = true;
    }
    m_changed.notify_all();
}

void LinkRecovery::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_abandon.raise();
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

int LinkRecovery::attempts() const
{
    std::lock_guard lock(m_mutex);
    return m_attempts;
}

bool LinkRecovery::waitForAttempts(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_attempts >= count; });
}

void LinkRecovery::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_wanted || m_stopping; });
        if (m_stopping) {
            return;
        }
        m_wanted = false;
        for (int failed = 0;; ++failed) {
            lock.unlock();
            const bool connected = attempt(failed);
            lock.lock();
            if (connected || m_stopping) {
                break;
            }
            if (m_changed.wait_for(lock, m_retryEvery, [this] { return m_stopping; })) {
                return;
            }
        }
    }
}

bool LinkRecovery::attempt(int failedSoFar)
{
    const bool again = m_link.everConnected();
    {
        std::lock_guard lock(m_mutex);
        ++m_attempts;
    }
    m_changed.notify_all();
    try {
        m_link.connect(&m_abandon);
        m_status("connected to the lock system at " + m_linkName + (again ? " again" : "") +
                 (failedSoFar > 0 ? " after " + std::to_string(failedSoFar + 1) + " attempts"
                                  : std::string()));
        return true;
    } catch (const EAbort&) {
        return false;
    } catch (const std::exception& failure) {
        if (failedSoFar == 0) {
            m_failureReports.reset();
        }
        if (const std::optional<int> heldBack = m_failureReports.admit()) {
            m_status("cannot connect to the lock system at " + m_linkName + " (attempt " +
                     std::to_string(failedSoFar + 1) + "): " + describeFailure(failure) +
                     (failedSoFar == 0 ? "; further failures are reported at most once every " +
                                             secondsText(m_failureReports.every())
                                       : "; " + std::to_string(*heldBack) +
                                             " more failed since the last such line"));
        }
        return false;
    }
}

} // namespace gateway
