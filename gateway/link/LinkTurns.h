#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <mutex>

namespace gateway {

// Turns on the one lock-system link, granted in the order they were asked for. A caller waits
// only until its own deadline, so a link held up by a silent lock system cannot make a
// request wait without bound, and a request that gives up loses its place without
// disturbing the others.
class LinkTurns
{
public:
    using Clock = std::chrono::steady_clock;

    // True with the turn held; false when the deadline passed or cancel() came first.
    bool acquire(Clock::time_point deadline);
    // For the link's own watch between exchanges: takes the turn only once nobody holds it or
    // waits for it, and never queues, so it never goes before a request. False when the
    // deadline passed or cancel() came first.
    bool acquireWhenIdle(Clock::time_point deadline);
    // Waits, without taking the turn, until nobody holds it or waits for it; false when the
    // deadline passed or cancel() came first.
    bool waitForIdle(Clock::time_point deadline);
    // Nobody holds the turn or waits for it now.
    bool idle() const;
    // Hands the turn to the longest waiting caller.
    void release();
    // Every waiting and every later acquire returns false.
    void cancel();
    // How many callers wait for a turn now.
    std::size_t waiting() const;

private:
    struct Waiter
    {
        std::condition_variable granted;
        bool hasTurn = false;
    };

    mutable std::mutex m_mutex;
    bool isIdle() const { return !m_held && m_waiting.empty(); }

    bool m_held = false;
    bool m_cancelled = false;
    std::condition_variable m_idle;
    // Each waiter is woken alone when its turn comes, not all of them at every release.
    std::list<Waiter*> m_waiting;
};

// Releases a held turn when it goes out of scope.
class LinkTurn
{
public:
    explicit LinkTurn(LinkTurns& turns) : m_turns(turns) {}
    ~LinkTurn() { m_turns.release(); }
    LinkTurn(const LinkTurn&) = delete;
    LinkTurn& operator=(const LinkTurn&) = delete;

private:
    LinkTurns& m_turns;
};

} // namespace gateway
