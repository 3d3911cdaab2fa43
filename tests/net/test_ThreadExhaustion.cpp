// A listener that cannot make a thread for a connection: the connection is closed at once and
// the shutdown still ends. It needs a cap on the address space to run out of thread stacks,
// which POSIX systems have and Windows has not, so it is built for POSIX systems only.

#include "gateway/link/Listener.h"
#include "support/TestClient.h"
#include "support/TestProcessFacts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

using namespace gateway;
using namespace std::chrono_literals;

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
namespace {

void echoOnce(Connection& connection)
{
    Text text = connection.takeBufferedText();
    if (!text.empty()) {
        connection.writeLine(text);
    }
}

// Runs in a process of its own: it caps the address space so that, after a few connections,
// no further thread stack can be made. Exits 0 when the connection that got no thread was
// closed at once and the shutdown still ended.
[[noreturn]] void connectUntilNoThreadIsLeft()
{
    Listener listener(0, echoOnce, 200);
    listener.start();
    constexpr std::uint64_t threadRoom = 24 * 1024 * 1024; // two or so 8 MiB stacks
    if (!capAddressSpace(threadRoom)) {
        std::_Exit(2);
    }
    std::vector<TestClient> clients;
    clients.reserve(50);
    bool refusedOne = false;
    for (int i = 0; i < 50 && !refusedOne; ++i) {
        clients.emplace_back(listener.port());
        clients.back().send("ping");
        refusedOne = clients.back().readLine(5000) != "ping";
    }
    const bool closedAtOnce = refusedOne && clients.back().closedWithoutAnswer(5000);
    capAddressSpace(std::nullopt);
    if (!closedAtOnce) {
        std::_Exit(3);
    }
    // A session without a thread would keep the shutdown waiting for ever: it runs on a thread
    // that is left behind if it does not end.
    std::promise<void> shutDown;
    auto ended = shutDown.get_future();
    std::thread([&] {
        listener.shutdown();
        shutDown.set_value();
    }).detach();
    std::_Exit(ended.wait_for(20s) == std::future_status::ready ? 0 : 4);
}

} // namespace

TEST(ListenerResources, ConnectionWithoutAThreadIsClosedAndShutdownStillEnds)
{
    // A fresh process of its own, started by re-running this test binary: the address-space cap
    // must not meet the threads of other tests.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(connectUntilNoThreadIsLeft(), ::testing::ExitedWithCode(0), "");
}
#endif
