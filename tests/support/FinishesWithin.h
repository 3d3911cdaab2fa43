#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

// Runs work on a thread of its own and waits at most bound for it to return: a check that a
// shutdown or a wait ends, with a bound far beyond what it needs (a wake check, not a speed
// check). A work still running at the bound fails the check at once, with what in the
// message. It cannot be stopped and still uses the test's objects, which nothing can then end
// in order, so the thread is left to itself and the test program ends with that failure,
// rather than hanging until CTest's time-out.
template <typename Work>
void expectFinishesWithin(const char* what, std::chrono::milliseconds bound, Work work)
{
    struct State
    {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
    };
    // Shared with the thread, so that a thread left running never outlives what it signals.
    auto state = std::make_shared<State>();
    std::thread thread([state, work = std::move(work)]() mutable {
        work();
        {
            std::lock_guard lock(state->mutex);
            state->done = true;
        }
        state->changed.notify_all();
    });
    bool finished = false;
    {
        std::unique_lock lock(state->mutex);
        finished = state->changed.wait_for(lock, bound, [&] { return state->done; });
    }
    if (finished) {
        thread.join();
        return;
    }
    thread.detach();
    ADD_FAILURE() << what << " did not end within " << bound.count() << " ms";
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(1);
}
