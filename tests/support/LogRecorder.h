#pragma once

#include "gateway/Log.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

// Collects log lines from any thread and lets a test wait for them.
class LogRecorder
{
public:
    gateway::LogSink sink()
    {
        return [this](gateway::TextView line) {
            {
                std::lock_guard lock(m_mutex);
                m_lines.emplace_back(line);
            }
            m_changed.notify_all();
        };
    }

    bool waitForCount(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_lines.size() >= count; });
    }

    // Waits until the lines so far satisfy the predicate, which runs with the lines locked.
    template <typename Predicate>
    bool waitUntil(Predicate predicate,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return predicate(m_lines); });
    }

    std::vector<gateway::Text> lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<gateway::Text> m_lines;
};
