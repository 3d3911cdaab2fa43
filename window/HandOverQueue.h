#pragma once

#include "gateway/platform/SocketPlatform.h"

#include <QSocketNotifier>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>

namespace window {

// Calls handed over from any thread to the window's thread (the one that makes the queue),
// run there in the order they were handed over. They travel in a queue under our own lock and
// the wake-up through a descriptor the window's event loop watches: no Qt object is touched
// off the window's thread, and the hand-over stays visible to ThreadSanitizer, which cannot see
// Qt's locks.
//
// Calls of one kind may be dropped: of those only the latest droppableLimit wait, so that a
// window's thread that is held up (or slower than a flood of log lines) does not let the queue
// grow without end. The log pane keeps only its latest lines, so older ones would leave it at
// once; their record is written before they are handed over.
class HandOverQueue
{
public:
    explicit HandOverQueue(std::size_t droppableLimit = std::numeric_limits<std::size_t>::max());
    // Calls still waiting have nowhere to go: they are dropped.
    ~HandOverQueue();
    HandOverQueue(const HandOverQueue&) = delete;
    HandOverQueue& operator=(const HandOverQueue&) = delete;

    // Runs the call later on the window's thread, after everything handed over before it.
    // Never waits for the window's thread.
    void post(std::function<void()> call);
    // As post(), but the call is dropped unrun when droppableLimit later droppable calls are
    // handed over before it runs.
    void postDroppable(std::function<void()> call);

    // Calls dropped so far.
    std::uint64_t dropped() const;

private:
    struct Waiting
    {
        // The order of handing over, across both queues.
        std::uint64_t order;
        std::function<void()> call;
    };

    // Runs the handed-over calls in order, one at a time, so a modal box opened by one of
    // them still sees the later ones run after it.
    void runHandedOver();

    const std::size_t m_droppableLimit;
    mutable std::mutex m_mutex;
    std::deque<Waiting> m_calls;
    std::deque<Waiting> m_droppable;
    std::uint64_t m_nextOrder = 0;
    std::uint64_t m_dropped = 0;
    gateway::WakeSignal m_wake;
    QSocketNotifier m_notifier;
};

} // namespace window
