// A listener that runs out of descriptors says so, at most once a minute, instead of staying
// silent, and serves the waiting connection once descriptors are free again.

#include "gateway/link/Listener.h"
#include "gateway/platform/ProcessFacts.h"
#include "support/LogRecorder.h"
#include "support/TestProcessFacts.h"

#include <gtest/gtest.h>

#include <future>

using namespace gateway;
using namespace std::chrono_literals;

TEST(AcceptRefusal, RunningOutOfDescriptorsIsToldOnceAndTheWaitingConnectionIsServedLater)
{
    std::promise<void> served;
    Listener listener(0, [&served](Connection&) {
        try {
            served.set_value();
        } catch (const std::future_error&) {
            // served already
        }
    });
    LogRecorder status;
    listener.setStatusSink([&status](const std::string& line) { status.sink()(fromUtf8(line)); });
    listener.start();

    // The client's socket first; then no descriptor is left for the accept. (Running out by
    // opening sockets until one fails would fail inside the sanitizers' runtime as well.)
    Socket client = openStream(Family::IPv4);
    if (!allowNoFurtherFiles()) {
        GTEST_SKIP() << "no limit of open files to run out of on this system";
    }
    connectIPv4(client, loopbackIPv4(), listener.port());

    const std::string refusal = "cannot accept connections on port " +
                                std::to_string(listener.port()) +
                                ": Socket Error # 10024 Too many open files.; they wait in the "
                                "system's queue";
    EXPECT_TRUE(status.waitForCount(1)) << "the refusal is told";
    raiseOpenFileLimit();
    auto servedFuture = served.get_future();
    EXPECT_EQ(servedFuture.wait_for(10s), std::future_status::ready);

    const std::vector<Text> lines = status.lines();
    ASSERT_EQ(lines.size(), 1u) << "a refusal repeated every pause is told once a minute";
    EXPECT_EQ(toUtf8(lines[0]), refusal);
}
