#include "gateway/base/Errors.h"
#include "gateway/base/ReadableText.h"
#include "gateway/base/SocketErrorText.h"
#include "gateway/link/Listener.h"
#include "support/FinishesWithin.h"
#include "support/TestClient.h"
#include "support/TestProcessFacts.h"

#include <gtest/gtest.h>

#include <thread>

using namespace gateway;
using namespace std::chrono_literals;

namespace {

void echoHandler(Connection& connection)
{
    Text text = connection.takeBufferedText();
    if (!text.empty()) {
        connection.writeLine(text);
    }
}

} // namespace

TEST(Listener, PortHeldByAnotherListenerGivesTheBindErrorWithTheSystemsReason)
{
    Listener first(0, echoHandler);
    first.start();
    Listener second(first.port(), echoHandler);
    try {
        second.start();
        FAIL() << "the port is taken";
    } catch (const EIdCouldNotBindSocket& error) {
        EXPECT_STREQ(error.what(), "Could not bind socket. Address and port are already in use.");
#ifdef _WIN32
        // Windows (Wine at least) refuses a port another socket holds for exclusive use as an
        // access it forbids.
        const int inUse = runningUnderWine() ? 10013 : 10048;
#else
        const int inUse = 10048;
#endif
        EXPECT_EQ(error.number(), inUse);
        // The system's own words follow only where they say more than the table's text.
        const std::string reason = "EIdCouldNotBindSocket: Could not bind socket. Address and port "
                                   "are already in use. (system: " +
                                   oneLine(socketErrorMessage(inUse));
        EXPECT_EQ(describeFailure(error).substr(0, reason.size()), reason);
    }
    EXPECT_FALSE(second.isActive());
}

TEST(Listener, StartWithoutHandlerFails)
{
    Listener listener(0, nullptr);
    try {
        listener.start();
        FAIL() << "a listener needs a handler";
    } catch (const EIdTCPNoOnExecute& error) {
        EXPECT_STREQ(error.what(), "You must have an OnExecute event.");
    }
}

TEST(Listener, FirstRunFindsNothingAndAnIdleClientGetsNothing)
{
    std::atomic<int> runs{0};
    std::atomic<int> emptyFirstRuns{0};
    Listener listener(0, [&](Connection& connection) {
        if (runs++ == 0 && connection.takeBufferedText().empty()) {
            ++emptyFirstRuns;
        }
    });
    listener.start();
    TestClient client(listener.port());
    EXPECT_FALSE(client.readLine(100)) << "no greeting, no answer";
    EXPECT_EQ(emptyFirstRuns, 1);
    EXPECT_LE(runs, 2) << "an idle connection must not run the handler over and over";
}

TEST(Listener, ShutdownWakesIdleConnectionsAtOnce)
{
    // A bound far beyond the test's own: only waking the idle threads ends the shutdown.
    auto listener = std::make_unique<Listener>(0, echoHandler, 600000);
    listener->start();
    std::vector<TestClient> clients;
    for (int i = 0; i < 20; ++i) {
        clients.emplace_back(listener->port());
        clients.back().send("ping");
        ASSERT_EQ(clients.back().readLine(), "ping");
    }
    expectFinishesWithin("the shutdown", 20s, [&] { listener->shutdown(); });
    for (auto& client : clients) {
        EXPECT_TRUE(client.closedWithoutAnswer());
    }
}

TEST(Listener, IdleTimeoutClosesOnlyConnectionsThatStayQuiet)
{
    Listener listener(0, echoHandler);
    listener.setIdleTimeout(600);
    listener.start();
    TestClient quiet(listener.port());
    TestClient busy(listener.port());
    // Each request well within the idle time keeps the busy one open past several idle times.
    for (int i = 0; i < 10; ++i) {
        busy.send("ping");
        ASSERT_EQ(busy.readLine(), "ping") << "request " << i;
        std::this_thread::sleep_for(100ms); // a front desk between requests
    }
    EXPECT_TRUE(quiet.closedWithoutAnswer(5000));
    busy.send("still here");
    EXPECT_EQ(busy.readLine(), "still here");
}

TEST(Listener, RestartedListenerBindsTheSamePortAtOnce)
{
    std::uint16_t port;
    {
        Listener listener(0, echoHandler);
        listener.start();
        port = listener.port();
        TestClient client(port);
        client.send("ping");
        ASSERT_EQ(client.readLine(), "ping");
        listener.shutdown(); // the gateway closes first: its side lingers in TIME_WAIT
    }
    Listener again(port, echoHandler);
    EXPECT_NO_THROW(again.start());
}
