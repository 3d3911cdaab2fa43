#include "window/HandOverQueue.h"

namespace window {

HandOverQueue::HandOverQueue() : m_notifier(m_wake.handle(), QSocketNotifier::Read)
{
    QObject::connect(&m_notifier, &QSocketNotifier::activated, &m_notifier,
                     [this] { runHandedOver(); });
}

HandOverQueue::~HandOverQueue()
{
    m_notifier.setEnabled(false);
    std::lock_guard lock(m_mutex);
    m_calls.clear();
}

void HandOverQueue::post(std::function<void()> call)
{
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
    }
    m_wake.raise();
}

void HandOverQueue::runHandedOver()
{
    // Lowered before the queue is read: a call handed over from here on raises it again.
    m_wake.clear();
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(m_mutex);
            if (m_calls.empty()) {
                return;
            }
            call = std::move(m_calls.front());
            m_calls.pop_front();
        }
        call();
    }
}

} // namespace window
