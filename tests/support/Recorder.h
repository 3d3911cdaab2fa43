#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

// Collects what a sink is told, from any thread, and lets a test wait for it.
template <typename Item> class Recorder
{
public:
    void add(Item item)
    {
        {
            std::lock_guard lock(m_mutex);
            m_items.push_back(std::move(item));
        }
        m_changed.notify_all();
    }

    bool waitForCount(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_items.size() >= count; });
    }

    // Waits until the items so far satisfy the predicate, which runs with them locked.
    template <typename Predicate>
    bool waitUntil(Predicate predicate,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return predicate(m_items); });
    }

    std::vector<Item> items() const
    {
        std::lock_guard lock(m_mutex);
        return m_items;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Item> m_items;
};
