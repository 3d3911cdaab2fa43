#include "gateway/link/LinkTurns.h"

namespace gateway {

bool LinkTurns::acquire(Clock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    if (m_cancelled) {
        return false;
    }
    if (isIdle()) {
        m_held = true;
        return true;
    }
    Waiter me;
    const auto place = m_waiting.insert(m_waiting.end(), &me);
    me.granted.wait_until(lock, deadline, [&] { return me.hasTurn || m_cancelled; });
    if (me.hasTurn) {
        // Granted, even if cancelled or out of time at the same moment: release() took it off
        // the list, and the holder must release it again.
        return true;
    }
    m_waiting.erase(place);
    if (isIdle()) {
        m_idle.notify_all();
    }
    return false;
}

bool LinkTurns::acquireWhenIdle(Clock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    if (!m_idle.wait_until(lock, deadline, [this] { return m_cancelled || isIdle(); }) ||
        m_cancelled) {
        return false;
    }
    m_held = true;
    return true;
}

bool LinkTurns::waitForIdle(Clock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_until(lock, deadline, [this] { return m_cancelled || isIdle(); }) &&
           !m_cancelled;
}

bool LinkTurns::idle() const
{
    std::lock_guard lock(m_mutex);
    return isIdle();
}

void LinkTurns::release()
{
    std::lock_guard lock(m_mutex);
    if (m_waiting.empty()) {
        m_held = false;
        m_idle.notify_all();
        return;
    }
    Waiter* next = m_waiting.front();
    m_waiting.pop_front();
    next->hasTurn = true;
    next->granted.notify_one();
}

void LinkTurns::cancel()
{
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    m_idle.notify_all();
    for (Waiter* waiter : m_waiting) {
        waiter->granted.notify_one();
    }
}

std::size_t LinkTurns::waiting() const
{
    std::lock_guard lock(m_mutex);
    return m_waiting.size();
}

} // namespace gateway
