#pragma once

#include <chrono>
#include <mutex>
#include <optional>

namespace gateway {

// Lets a report of a lasting condition through at most once an interval, so a condition that
// lasts for hours (a lock system down, no descriptors left) cannot flood the log. Thread-safe.
class ReportThrottle
{
public:
    using Clock = std::chrono::steady_clock;

    explicit ReportThrottle(std::chrono::milliseconds every) : m_every(every) {}

    // For one occurrence: the number held back since the last report when this one is to be
    // reported, none when it is to be held back. The first occurrence is always reported.
    std::optional<int> admit(Clock::time_point now = Clock::now())
    {
        std::lock_guard lock(m_mutex);
        if (m_lastReport && now - *m_lastReport < m_every) {
            ++m_heldBack;
            return std::nullopt;
        }
        m_lastReport = now;
        const int heldBack = m_heldBack;
        m_heldBack = 0;
        return heldBack;
    }

    // The condition is over: its next occurrence is reported at once.
    void reset()
    {
        std::lock_guard lock(m_mutex);
        m_lastReport.reset();
        m_heldBack = 0;
    }

    std::chrono::milliseconds every() const { return m_every; }

private:
    const std::chrono::milliseconds m_every;
    std::mutex m_mutex;
    std::optional<Clock::time_point> m_lastReport;
    int m_heldBack = 0;
};

} // namespace gateway
