#pragma once

#include "gateway/platform/SocketPlatform.h"

#include <QSocketNotifier>

#include <deque>
#include <functional>
#include <mutex>

namespace window {

// Calls handed over from any thread to the window's thread (the one that makes the queue),
// run there in the order they were handed over. They travel in a queue under our own lock and
// the wake-up through a descriptor the window's event loop watches: no Qt object is touched
// off the window's thread, and the hand-over stays visible to ThreadSanitizer, which cannot see
// Qt's locks.
class HandOverQueue
{
public:
    HandOverQueue();
    // Calls still waiting have nowhere to go: they are dropped.
    ~HandOverQueue();
    HandOverQueue(const HandOverQueue&) = delete;
    HandOverQueue& operator=(const HandOverQueue&) = delete;

    // Runs the call later on the window's thread, after everything handed over before it.
    // Never waits for the window's thread.
    void post(std::function<void()> call);

private:
    // Runs the handed-over calls in order, one at a time, so a modal box opened by one of
    // them still sees the later ones run after it.
    void runHandedOver();

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_calls;
    gateway::WakeSignal m_wake;
    QSocketNotifier m_notifier;
};

} // namespace window
