// Turns on the link: granted in arrival order, given up at the deadline, ended by cancel. Here
// with the concurrency tests, since every case needs threads.

#include "gateway/link/LinkTurns.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

using namespace gateway;
using namespace std::chrono_literals;

namespace {

LinkTurns::Clock::time_point in(std::chrono::milliseconds ms)
{
    return LinkTurns::Clock::now() + ms;
}

template <typename Predicate> bool eventually(Predicate predicate)
{
    for (auto until = in(10s); LinkTurns::Clock::now() < until;) {
        if (predicate()) {
            return true;
        }
        std::this_thread::sleep_for(1ms);
    }
    return predicate();
}

} // namespace

TEST(LinkTurns, GrantedInTheOrderAsked)
{
    LinkTurns turns;
    ASSERT_TRUE(turns.acquire(in(0ms)));
    std::mutex orderMutex;
    std::vector<int> order;
    std::vector<std::thread> waiters;
    for (std::size_t i = 0; i < 8; ++i) {
        waiters.emplace_back([&, i] {
            if (turns.acquire(in(10s))) {
                {
                    std::lock_guard lock(orderMutex);
                    order.push_back(static_cast<int>(i));
                }
                turns.release();
            }
        });
        // Nothing announces that a waiter is in line: look until it is, so the next one is
        // surely behind it.
        ASSERT_TRUE(eventually([&] { return turns.waiting() == i + 1; }));
    }
    turns.release();
    for (auto& waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(LinkTurns, AWaiterGivesUpAtItsDeadlineAndLosesItsPlaceOnly)
{
    LinkTurns turns;
    ASSERT_TRUE(turns.acquire(in(0ms)));
    EXPECT_FALSE(turns.acquire(in(20ms))) << "the turn is held throughout";

    auto patient = std::async(std::launch::async, [&] { return turns.acquire(in(10s)); });
    EXPECT_FALSE(turns.acquire(in(20ms)));
    turns.release();
    EXPECT_TRUE(patient.get()) << "the one that gave up did not take the patient one's turn";
    turns.release();
    EXPECT_TRUE(turns.acquire(in(0ms))) << "free again";
    turns.release();
}

TEST(LinkTurns, CancelEndsEveryWaitAndRefusesLaterOnes)
{
    LinkTurns turns;
    ASSERT_TRUE(turns.acquire(in(0ms)));
    std::vector<std::future<bool>> waiting;
    for (int i = 0; i < 4; ++i) {
        waiting.push_back(std::async(std::launch::async, [&] { return turns.acquire(in(60s)); }));
    }
    turns.cancel();
    for (auto& waiter : waiting) {
        ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready) << "cancel woke it";
        EXPECT_FALSE(waiter.get());
    }
    turns.release();
    EXPECT_FALSE(turns.acquire(in(10s)));
}
