// A lost lock-system link connected again in the background: requests fail while it is down,
// the lock system may refuse for a while, and nothing of the old connection reaches an
// exchange on the new one.

#include "gateway/base/Errors.h"
#include "gateway/link/LinkRecovery.h"
#include "gateway/link/LockLink.h"
#include "support/FakeLockServer.h"
#include "support/FinishesWithin.h"
#include "support/LogRecorder.h"
#include "support/TestProcessFacts.h"
#include "support/WineDifferences.h"

#include <gtest/gtest.h>

#include <memory>

using namespace gateway;
using namespace std::chrono_literals;

namespace {

const std::string reply005 = FakeLockServer::replyWithCode("005");

std::string utf8(const Text& text)
{
    return toUtf8(text);
}

class LinkRecoveryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        link.connect();
        ASSERT_TRUE(server->waitForPeer());
    }

    LinkExchange exchange(const std::string& line, int waitMs = 2000)
    {
        return link.exchange(fromUtf8(line), waitMs, LockLink::Clock::now() + 10s);
    }

    // The status lines so far, each a test can look for by its beginning.
    std::vector<std::string> statusLines() const
    {
        std::vector<std::string> lines;
        for (const Text& line : status.lines()) {
            lines.push_back(utf8(line));
        }
        return lines;
    }

    bool waitForStatus(const std::string& beginning)
    {
        return status.waitUntil([&](const std::vector<Text>& lines) {
            for (const Text& line : lines) {
                if (utf8(line).rfind(beginning, 0) == 0) {
                    return true;
                }
            }
            return false;
        });
    }

    std::size_t countStatus(const std::string& beginning) const
    {
        std::size_t count = 0;
        for (const std::string& line : statusLines()) {
            count += line.rfind(beginning, 0) == 0;
        }
        return count;
    }

    std::unique_ptr<FakeLockServer> server = std::make_unique<FakeLockServer>();
    const std::uint16_t port = server->port();
    const std::string name = "127.0.0.1:" + std::to_string(port);
    LogRecorder log;
    LogRecorder status;
    LockLink link{"127.0.0.1", port, log.sink()};
    LinkRecovery recovery{link, name, 50ms,
                          [this](const std::string& line) { status.sink()(fromUtf8(line)); }};
};

} // namespace

TEST_F(LinkRecoveryTest, LinkOutOfStepAfterATimeOutIsConnectedAnewBeforeTheNextLine)
{
    // The first line gets no reply in time; its reply comes later, on the old connection.
    server->setResponder([](const std::string& line) {
        return line == "first" ? std::optional<std::string>()
                               : std::optional<std::string>(reply005);
    });
    EXPECT_EQ(exchange("first", 100).reply, u"");
    ASSERT_TRUE(waitForStatus("connecting anew"));
    EXPECT_EQ(countStatus("connecting anew to the lock system at " + name +
                          ": no reply within 100 ms, so a late one cannot reach a later request"),
              1u);
    // The watch connects anew while the link is idle: the server sees a new connection.
    ASSERT_TRUE(server->waitForConnections(2));
    // Bytes nobody asked for on the new connection are discarded, not taken as the reply.
    server->send(FakeLockServer::replyWithCode("001"));

    const LinkExchange next = exchange("second");
    EXPECT_EQ(utf8(next.reply), reply005) << "the new link is in step at once";
    EXPECT_EQ(log.lines(), std::vector<Text>{u"Discarded stale data from the lock system: " +
                                             fromUtf8(FakeLockServer::replyWithCode("001"))})
        << "no late reply of the old connection is waited for";
}

TEST_F(LinkRecoveryTest, LinkClosedWhileIdleIsNoticedAndConnectedAgainBeforeARequestNeedsIt)
{
    server->setResponder([](const std::string&) { return std::optional<std::string>(reply005); });
    server->send("stale");
    server->closeConnection();

    // No exchange runs: the watch between exchanges finds the end of the stream.
    ASSERT_TRUE(waitForStatus("connected to the lock system at " + name + " again"));
    EXPECT_EQ(countStatus("lost the link to the lock system at " + name +
                          ": EIdConnClosedGracefully: Connection Closed Gracefully.; connecting "
                          "again every 50 ms"),
              1u);
    EXPECT_EQ(log.lines(), std::vector<Text>{u"Discarded stale data from the lock system: stale"});
    const LinkExchange first = exchange("first after the restart");
    EXPECT_EQ(utf8(first.reply), reply005);
}

TEST_F(LinkRecoveryTest, WhileTheLockSystemRefusesRequestsFailAtOnceAndFailuresAreToldOnce)
{
    server.reset(); // its connection ends with it, and nothing listens on the port any more
    ASSERT_TRUE(recovery.waitForAttempts(4, 10s));
    EXPECT_THROW(exchange("while down"), ELinkNotConnected);
    // Found by the watch, with no exchange; a connect that the closing server's queue took may
    // be lost once more.
    EXPECT_GE(countStatus("lost the link"), 1u);

    EXPECT_EQ(countStatus("cannot connect to the lock system at " + name +
                          " (attempt 1): EIdSocketError: Socket Error # 10061 Connection "
                          "refused.; further failures are reported at most once every 60 s"),
              1u);
    EXPECT_EQ(countStatus("cannot connect"), 1u) << "later failures within the minute are quiet";

    server = std::make_unique<FakeLockServer>(
        [](const std::string&) { return std::optional<std::string>(reply005); }, port);
    ASSERT_TRUE(waitForStatus("connected to the lock system at " + name + " again after "));
    EXPECT_EQ(utf8(exchange("back").reply), reply005);
}

TEST_F(LinkRecoveryTest, ResetLinkIsLostOnceAndConnectedAgain)
{
    if (runningUnderWine()) {
        GTEST_SKIP() << resetUnseenUnderWine;
    }
    server->setResponder([this](const std::string& line) {
        if (line == "reset") {
            server->resetConnection();
            return std::optional<std::string>();
        }
        return std::optional<std::string>(reply005);
    });
    EXPECT_THROW(exchange("reset"), EIdSocketError);
    ASSERT_TRUE(waitForStatus("connected to the lock system at " + name + " again"));
    EXPECT_EQ(countStatus("lost the link to the lock system at " + name +
                          ": EIdSocketError: Socket Error # 10054 Connection reset by peer."),
              1u);
    EXPECT_EQ(utf8(exchange("next").reply), reply005);
}

TEST(LinkRecovery, StopEndsTheWaitBetweenAttempts)
{
    LogRecorder log;
    // A port with nothing behind it: every attempt is refused.
    std::uint16_t port;
    {
        FakeLockServer gone;
        port = gone.port();
    }
    LockLink link("127.0.0.1", port, log.sink());
    LinkRecovery recovery(link, "there", 1h, [](const std::string&) {});
    recovery.reconnect();
    ASSERT_TRUE(recovery.waitForAttempts(1, 10s));
    // At once, not after the hour's wait.
    expectFinishesWithin("the stop", 10s, [&] { recovery.stop(); });
    EXPECT_EQ(recovery.attempts(), 1);
}
