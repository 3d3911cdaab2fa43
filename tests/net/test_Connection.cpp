#include "gateway/base/Errors.h"
#include "gateway/base/Settings.h"
#include "gateway/link/Connection.h"
#include "support/FinishesWithin.h"
#include "support/SocketPair.h"
#include "support/TestProcessFacts.h"
#include "support/WineDifferences.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace gateway;
using namespace std::chrono_literals;

namespace {

// The connection under test and the raw socket of its peer.
struct ConnectionFixture : ::testing::Test
{
    ConnectionFixture()
    {
        auto [near, far] = tcpPair();
        connection.emplace(std::move(near));
        peer = std::move(far);
    }

    std::string receiveAtPeer(std::size_t count)
    {
        std::string bytes;
        char buffer[65536];
        while (bytes.size() < count && waitReadable(peer, 5000, nullptr) == Readiness::Readable) {
            std::size_t got = receiveSome(peer, buffer, sizeof buffer);
            if (got == 0) {
                break;
            }
            bytes.append(buffer, got);
        }
        return bytes;
    }

    std::optional<Connection> connection;
    Socket peer;
};

} // namespace

TEST_F(ConnectionFixture, TakeOnEmptyBufferGivesEmptyTextAtOnce)
{
    sendAll(peer, "waiting in the socket");
    EXPECT_EQ(connection->takeBufferedText(), u"");
    EXPECT_TRUE(connection->connected());
}

TEST_F(ConnectionFixture, WriteLineSendsEncodedTextAndLineEnd)
{
    connection->writeLine(u"");
    connection->writeLine(u"caf\u00e9 \U0001F511\x02");
    EXPECT_EQ(receiveAtPeer(12), std::string("\r\ncaf? ??\x02\r\n"));
}

TEST_F(ConnectionFixture, WaitForDataReturnsAtOnceWithBytesWaitingAndBuffersThem)
{
    sendAll(peer, "\xC3\xA9 reply");
    connection->waitForData(60000);
    EXPECT_EQ(connection->takeBufferedText(), u"\uFFFD\uFFFD reply");
}

TEST_F(ConnectionFixture, WaitForDataRunsOutOfTimeWithoutFailure)
{
    connection->waitForData(50);
    EXPECT_EQ(connection->takeBufferedText(), u"");
    EXPECT_TRUE(connection->connected());
}

TEST_F(ConnectionFixture, WaitForDataIsWokenBySignal)
{
    WakeSignal wake;
    wake.raise();
    // Without the wake only the 60 s fallback would end the wait.
    expectFinishesWithin("the woken wait", 10s, [&] { connection->waitForData(60000, &wake); });
    EXPECT_TRUE(connection->connected());
}

TEST_F(ConnectionFixture, PeerEndOfStreamClosesAfterBufferedBytesAreTaken)
{
    sendAll(peer, "last words");
    peer.close();
    connection->waitForData(5000);
    EXPECT_TRUE(connection->poll());
    EXPECT_TRUE(connection->closedByPeer());
    EXPECT_FALSE(connection->isOpen());
    // Still connected while bytes it sent remain untaken.
    EXPECT_TRUE(connection->connected());
    EXPECT_EQ(connection->takeBufferedText(), u"last words");
    EXPECT_FALSE(connection->connected());
    connection->waitForData(60000); // returns at once on a closed link

    try {
        connection->writeLine(u"answer");
        FAIL() << "write after the peer closed must fail";
    } catch (const EIdConnClosedGracefully& error) {
        EXPECT_STREQ(error.what(), "Connection Closed Gracefully.");
    }
}

TEST_F(ConnectionFixture, ReceiveTakesAtMost32KiBAtATime)
{
    std::string request(40000, 'x');
    sendAll(peer, request);
    std::size_t taken = 0;
    std::vector<std::size_t> parts;
    while (taken < request.size()) {
        connection->poll(5000);
        std::size_t part = connection->takeBufferedText().size();
        ASSERT_LE(part, 32768u);
        taken += part;
        parts.push_back(part);
    }
    EXPECT_GE(parts.size(), 2u);
}

TEST_F(ConnectionFixture, ResetByPeerFailsTheReceiveWithSocketError)
{
    if (runningUnderWine()) {
        GTEST_SKIP() << resetUnseenUnderWine;
    }
    abortConnection(peer);
    try {
        connection->waitForData(5000);
        FAIL() << "a reset must fail the receive";
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.number(), 10054);
        EXPECT_STREQ(error.what(), "Socket Error # 10054\r\nConnection reset by peer.");
        EXPECT_NE(error.systemText(), "") << "the system's own words travel with the error";
    }
    EXPECT_TRUE(connection->isOpen()); // a failed receive leaves the socket open
}

TEST_F(ConnectionFixture, WriteToResetPeerFailsWithoutKillingTheProcess)
{
    abortConnection(peer);
    // The first sends may still be accepted locally; a later one meets the reset. Without
    // MSG_NOSIGNAL this would raise SIGPIPE and end the test process.
    EXPECT_THROW(
        {
            for (int i = 0; i < 100; ++i) {
                connection->writeLine(u"answer");
            }
        },
        EIdSocketError);
}

TEST(LinkKeepAlive, LinkSocketKeepsItsProbeTimesThroughTheConnect)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows takes keepalive times but does not tell them";
#endif
    Socket listening = loopbackSocket();
    listenOn(listening, 1);
    Socket link = openStream(Family::IPv4);
    EXPECT_TRUE(enableLinkKeepAlive(link));
    connectIPv4(link, loopbackIPv4(), localPort(listening));
    EXPECT_EQ(keepAliveIdleSeconds(link), settings::linkKeepAliveIdleSeconds);
}
