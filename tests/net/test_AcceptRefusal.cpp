// A listener that runs out of descriptors says so, at most once a minute, instead of staying
// silent, and serves the waiting connection once descriptors are free again.

#include "gateway/Listener.h"
#include "gateway/ProcessFacts.h"
#include "support/LogRecorder.h"

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

    if (!limitOpenFiles(256)) {
        GTEST_SKIP() << "no limit of open files to run out of on this system";
    }
    // Every descriptor taken but one, which the client's socket takes.
    std::vector<Socket> hoard;
    try {
        while (hoard.size() < 256) {
            hoard.push_back(openStream(Family::IPv4));
        }
    } catch (const std::exception&) {
    }
    ASSERT_FALSE(hoard.empty());
    hoard.pop_back();
    Socket client = openStream(Family::IPv4);
    connectIPv4(client, loopbackIPv4(), listener.port());

    const std::string refusal = "cannot accept connections on port " +
                                std::to_string(listener.port()) +
                                ": Socket Error # 10024 Too many open files.; they wait in the "
                                "system's queue";
    EXPECT_TRUE(status.waitForCount(1)) << "the refusal is told";
    hoard.clear();
    auto servedFuture = served.get_future();
    EXPECT_EQ(servedFuture.wait_for(10s), std::future_status::ready);
    raiseOpenFileLimit();

    const std::vector<Text> lines = status.lines();
    ASSERT_EQ(lines.size(), 1u) << "a refusal repeated every pause is told once a minute";
    EXPECT_EQ(toUtf8(lines[0]), refusal);
}
