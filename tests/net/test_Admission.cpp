// Where the listener listens and whom it serves: its addresses, the allowed peers and the most
// connections at once. A connection it refuses is closed before a byte of it is read.

#include "gateway/base/Errors.h"
#include "gateway/link/Listener.h"
#include "support/TestClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

using namespace gateway;

namespace {

// Echoes what it takes and counts the texts it saw, so a test can tell that nothing of a
// refused connection reached a handler.
struct Echo
{
    std::atomic<int> texts{0};

    Listener::Handler handler()
    {
        return [this](Connection& connection) {
            const Text text = connection.takeBufferedText();
            if (!text.empty()) {
                ++texts;
                connection.writeLine(text);
            }
        };
    }
};

struct StatusLines
{
    std::mutex mutex;
    std::vector<std::string> lines;

    Listener::StatusSink sink()
    {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        };
    }
    std::vector<std::string> taken()
    {
        std::lock_guard lock(mutex);
        return lines;
    }
};

AddressRange range(const char* text)
{
    return std::get<AddressRange>(parseAddressRange(text));
}

bool served(std::uint16_t port, Family family)
{
    TestClient client(port, family);
    client.send("ping");
    return client.readLine().value_or("") == "ping";
}

} // namespace

TEST(Admission, ListensOnlyOnTheAddressesGiven)
{
    Echo echo;
    Listener listener(0, echo.handler());
    listener.setAddresses({IpAddress::ipv4(127, 0, 0, 1)});
    listener.start();
    EXPECT_TRUE(served(listener.port(), Family::IPv4));
    if (ipv6Available()) {
        EXPECT_THROW(TestClient(listener.port(), Family::IPv6), EIdSocketError)
            << "no socket listens on ::1";
    }
}

TEST(Admission, AnAddressNotOnThisMachineCannotBeBound)
{
    Echo echo;
    Listener listener(0, echo.handler());
    // TEST-NET-1: documentation only, on no interface.
    listener.setAddresses({IpAddress::ipv4(127, 0, 0, 1), IpAddress::ipv4(192, 0, 2, 1)});
    try {
        listener.start();
        FAIL() << "192.0.2.1 is none of this machine's addresses";
    } catch (const EIdCouldNotBindSocket& error) {
        EXPECT_EQ(error.number(), 10049);
    }
    EXPECT_FALSE(listener.isActive());
}

TEST(Admission, OnlyAllowedPeersAreServedAndEachRefusedAddressIsToldOnceAMinute)
{
    struct Case
    {
        const char* what;
        std::vector<const char*> allowed;
        Family from;
        bool servedIt;
    } cases[] = {
        {"anyone by default", {}, Family::IPv4, true},
        {"its own address", {"127.0.0.1"}, Family::IPv4, true},
        {"within a prefix", {"127.0.0.0/8"}, Family::IPv4, true},
        {"one of several", {"192.0.2.0/24", "127.0.0.0/8"}, Family::IPv4, true},
        {"elsewhere", {"192.0.2.0/24"}, Family::IPv4, false},
        {"IPv4 only, an IPv6 peer", {"127.0.0.0/8"}, Family::IPv6, false},
        {"IPv6 loopback", {"::1"}, Family::IPv6, true},
        {"IPv6 only, an IPv4 peer", {"::/0"}, Family::IPv4, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.from == Family::IPv6 && !ipv6Available()) {
            continue;
        }
        std::vector<AddressRange> ranges;
        for (const char* text : c.allowed) {
            ranges.push_back(range(text));
        }
        Echo echo;
        StatusLines status;
        Listener listener(0, echo.handler());
        listener.setPeerFilter(PeerFilter(ranges));
        listener.setStatusSink(status.sink());
        listener.start();
        if (c.servedIt) {
            EXPECT_TRUE(served(listener.port(), c.from));
            EXPECT_TRUE(status.taken().empty());
            continue;
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            TestClient client(listener.port(), c.from);
            client.send("<keyrequest/>");
            EXPECT_TRUE(client.closedWithoutAnswer());
        }
        EXPECT_EQ(echo.texts, 0) << "nothing of a refused connection reaches a handler";
        const std::vector<std::string> lines = status.taken();
        ASSERT_EQ(lines.size(), 1u) << "the second refusal from the address is held back";
        const std::string peer = c.from == Family::IPv4 ? "127.0.0.1:" : "[::1]:";
        EXPECT_EQ(lines[0].rfind("refused a connection from " + peer, 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(": the address is not among those allowed"), std::string::npos);
    }
}

TEST(Admission, ConnectionsBeyondTheMostAreClosedAndTheLiveOnesServed)
{
    Echo echo;
    StatusLines status;
    Listener listener(0, echo.handler());
    listener.setMaxConnections(2);
    listener.setStatusSink(status.sink());
    listener.start();

    std::optional<TestClient> first(std::in_place, listener.port());
    TestClient second(listener.port());
    first->send("1");
    second.send("2");
    ASSERT_EQ(first->readLine(), "1");
    ASSERT_EQ(second.readLine(), "2");

    TestClient third(listener.port());
    third.send("3");
    EXPECT_TRUE(third.closedWithoutAnswer());
    const std::vector<std::string> lines = status.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(": 2 connections are open, the most allowed"), std::string::npos)
        << lines[0];

    second.send("2 again");
    EXPECT_EQ(second.readLine(), "2 again") << "the live ones keep being served";

    // A place that comes free is free by the time its front desk sees its connection closed.
    first->shutdownSending();
    EXPECT_TRUE(first->closedWithoutAnswer());
    first.reset();
    TestClient fourth(listener.port());
    fourth.send("4");
    EXPECT_EQ(fourth.readLine(), "4");
    EXPECT_EQ(echo.texts, 4);
}
