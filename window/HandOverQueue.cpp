#include "window/HandOverQueue.h"

#include <algorithm>

namespace window {

HandOverQueue::HandOverQueue(std::size_t droppableLimit)
    : m_droppableLimit(std::max<std::size_t>(droppableLimit, 1)),
      m_notifier(m_wake.handle(), QSocketNotifier::Read)
{
    QObject::connect(&m_notifier, &QSocketNotifier::activated, &m_notifier,
                     [this] { runHandedOver(); });
}

HandOverQueue::~HandOverQueue()
{
    m_notifier.setEnabled(false);
    std::lock_guard lock(m_mutex);
    m_calls.clear();
    m_droppable.clear();
}

void HandOverQueue::post(std::function<void()> call)
{
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back({m_nextOrder++, std::move(call)});
    }
    m_wake.raise();
}

void HandOverQueue::postDroppable(std::function<void()> call)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_droppable.size() == m_droppableLimit) {
            m_droppable.pop_front();
            ++m_dropped;
        }
        m_droppable.push_back({m_nextOrder++, std::move(call)});
    }
    m_wake.raise();
}

std::uint64_t HandOverQueue::dropped() const
{
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

void HandOverQueue::runHandedOver()
{
    // Lowered before the queue is read: a call handed over from here on raises it again.
    m_wake.clear();
    // Only the calls handed over so far: later ones wait for the next turn of the event loop,
    // so a flood of log lines never keeps the window from its own events (the operator's
    // input, a signal to reopen the files).
    std::uint64_t until = 0;
    {
        std::lock_guard lock(m_mutex);
        until = m_nextOrder;
    }
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(m_mutex);
            // The earlier of the two queues' first calls.
            std::deque<Waiting>* next = nullptr;
            if (!m_calls.empty()) {
                next = &m_calls;
            }
            if (!m_droppable.empty() &&
                (next == nullptr || m_droppable.front().order < next->front().order)) {
                next = &m_droppable;
            }
            if (next == nullptr || next->front().order >= until) {
                return;
            }
            call = std::move(next->front().call);
            next->pop_front();
        }
        call();
    }
}

} // namespace window
