// The lock-system link against an in-process lock server: every exchange takes its own whole
// reply, whatever pieces it comes in, and a reply that comes late never answers another line.

#include "gateway/base/Errors.h"
#include "gateway/link/LockLink.h"
#include "gateway/platform/StopRequest.h"
#include "support/FakeLockServer.h"
#include "support/LogRecorder.h"
#include "support/SocketPair.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace gateway;
using namespace std::chrono_literals;
using Piece = FakeLockServer::Piece;

namespace {

const std::string reply001 = FakeLockServer::replyWithCode("001");
const std::string reply005 = FakeLockServer::replyWithCode("005");
const Text stalePrefix = u"Discarded stale data from the lock system: ";
const Text latePrefix = u"Discarded a late reply from the lock system; a key may have been "
                        u"made for the previous request: ";

// The server answers line "first" as the test says and line "second" with code 005 at once.
class LinkExchangeTest : public ::testing::Test
{
protected:
    void answerFirstWith(std::vector<Piece> pieces)
    {
        server.setResponder(server.inPieces([pieces](const std::string& line) {
            return line == "first" ? pieces : std::vector<Piece>{{0ms, reply005}};
        }));
    }

    void connect()
    {
        link.connect();
        ASSERT_TRUE(server.waitForPeer());
    }

    LinkExchange exchange(const std::string& line, int waitMs,
                          std::chrono::milliseconds sendWithin = 10s)
    {
        return link.exchange(fromUtf8(line), waitMs, LockLink::Clock::now() + sendWithin);
    }

    std::future<LinkExchange> exchangeLater(const std::string& line, int waitMs)
    {
        return std::async(std::launch::async,
                          [this, line, waitMs] { return exchange(line, waitMs); });
    }

    FakeLockServer server;
    LogRecorder log;
    LockLink link{"127.0.0.1", server.port(), log.sink()};
};

} // namespace

TEST(LinkExchange, ReplyIsWholeWhateverPiecesItComesIn)
{
    struct Case
    {
        const char* what;
        std::vector<Piece> pieces;
        std::string reply;
        // Sent by the test once the first exchange is over, before the second.
        std::string afterwards;
        std::string discarded; // logged before the second line
    } cases[] = {
        {"framed, one piece", {{0ms, reply001}}, reply001, "", ""},
        {"framed, split before its code",
         {{0ms, reply001.substr(0, 12)}, {50ms, reply001.substr(12)}},
         reply001,
         "",
         ""},
        {"framed, EOT after a pause",
         {{0ms, reply001.substr(0, reply001.size() - 1)}, {50ms, "\x04"}},
         reply001,
         "",
         ""},
        {"framed, bytes after its EOT", {{0ms, reply001 + "zz"}}, reply001, "", "zz"},
        {"unframed, 15 characters", {{0ms, "0123456789ab001"}}, "0123456789ab001", "", ""},
        {"unframed, split within the quiet time",
         {{0ms, "012345"}, {20ms, "6789ab001"}},
         "0123456789ab001",
         "",
         ""},
        {"unframed, short", {{0ms, "short"}}, "short", "", ""},
        {"unframed, short, its rest after the quiet time",
         {{0ms, "0123456789ab"}},
         "0123456789ab",
         "001",
         "001"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeLockServer server;
        LogRecorder log;
        server.setResponder(server.inPieces([&c](const std::string& line) {
            return line == "first" ? c.pieces : std::vector<Piece>{{0ms, reply005}};
        }));
        LockLink link("127.0.0.1", server.port(), log.sink());
        link.connect();
        ASSERT_TRUE(server.waitForPeer());

        const LinkExchange first = link.exchange(u"first", 2000, LockLink::Clock::now() + 10s);
        EXPECT_EQ(first.outcome, LinkExchange::Outcome::Replied);
        EXPECT_EQ(first.reply, fromUtf8(c.reply));
        if (!c.afterwards.empty()) {
            server.send(c.afterwards);
        }
        const LinkExchange second = link.exchange(u"second", 2000, LockLink::Clock::now() + 10s);
        EXPECT_EQ(second.reply, fromUtf8(reply005));
        const std::vector<Text> expectedLog =
            c.discarded.empty() ? std::vector<Text>{}
                                : std::vector<Text>{stalePrefix + fromUtf8(c.discarded)};
        EXPECT_EQ(log.lines(), expectedLog);
    }
}

TEST(LinkExchange, LeftoversBeforeAReplyAreNeverItsStart)
{
    // Read from the first byte, each of these would put other characters at 13 to 15; the first
    // and the five-byte tail would even read "001", keys made.
    const std::string reply003 = FakeLockServer::replyWithCode("003");
    struct Case
    {
        const char* what;
        std::vector<Piece> pieces; // for the second line
        std::string discarded;
    } cases[] = {
        {"CR LF and NULs in the reply's piece",
         {{0ms, std::string("\r\n\0\0\0", 5) + reply003}},
         std::string("\r\n\0\0\0", 5)},
        {"a reply's tail just after the next line",
         {{0ms, "\x03\x04\r\n"}, {20ms, reply003}},
         "\x03\x04\r\n"},
        {"a five-byte tail", {{0ms, "\x03\x04\r\n0"}, {20ms, reply003}}, "\x03\x04\r\n0"},
        {"printable noise before the STX", {{0ms, "zz"}, {20ms, reply003}}, "zz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeLockServer server;
        LogRecorder log;
        server.setResponder(server.inPieces([&c](const std::string& line) {
            return line == "first" ? std::vector<Piece>{{0ms, reply001}} : c.pieces;
        }));
        LockLink link("127.0.0.1", server.port(), log.sink());
        link.connect();
        ASSERT_TRUE(server.waitForPeer());
        EXPECT_EQ(link.exchange(u"first", 2000, LockLink::Clock::now() + 10s).reply,
                  fromUtf8(reply001));
        EXPECT_EQ(link.exchange(u"second", 2000, LockLink::Clock::now() + 10s).reply,
                  fromUtf8(reply003));
        EXPECT_EQ(log.lines(), std::vector<Text>{stalePrefix + fromUtf8(c.discarded)});
    }
}

TEST_F(LinkExchangeTest, FloodOfUnaskedForBytesIsTakenWholeBeforeTheNextLine)
{
    // Four megabytes of replies that each say "keys made", sent right after the first reply
    // and still arriving as the next line waits to be written.
    std::string flood;
    while (flood.size() < 4 * 1024 * 1024) {
        flood += reply001;
    }
    answerFirstWith({{0ms, reply001 + flood}});
    connect();
    EXPECT_EQ(exchange("first", 2000).reply, fromUtf8(reply001));
    EXPECT_EQ(exchange("second", 2000).reply, fromUtf8(reply005));

    std::size_t discarded = 0;
    for (const Text& line : log.lines()) {
        ASSERT_EQ(line.substr(0, stalePrefix.size()), stalePrefix);
        const std::string text = toUtf8(line.substr(stalePrefix.size()));
        const std::size_t inAll = text.find(" ... (");
        EXPECT_LE(std::min(inAll, text.size()), 256u) << "a flood is shown in part";
        discarded += inAll == std::string::npos ? text.size() : std::stoul(text.substr(inAll + 6));
    }
    EXPECT_EQ(discarded, flood.size()) << "every byte of the flood was taken before the line";
}

TEST_F(LinkExchangeTest, LockSystemThatKeepsSendingHoldsTheLineUnsent)
{
    // After the reply, a byte every 20 ms for a second: never quiet long enough for a line to
    // be written safely.
    std::vector<Piece> pieces{{0ms, reply001 + "x"}};
    for (int i = 0; i < 50; ++i) {
        pieces.push_back({20ms, "x"});
    }
    answerFirstWith(pieces);
    connect();
    EXPECT_EQ(exchange("first", 2000).reply, fromUtf8(reply001));
    EXPECT_EQ(exchange("hurried", 2000, 300ms).outcome, LinkExchange::Outcome::NotSentInTime);
    EXPECT_EQ(exchange("second", 2000).reply, fromUtf8(reply005)) << "sent once it is quiet";
    EXPECT_EQ(server.lines(), (std::vector<std::string>{"first", "second"}));
}

TEST_F(LinkExchangeTest, SilenceAfterALateReplyCountsFromItsLastBytesArrival)
{
    // A late reply's first bytes come 100 ms after the 600 ms wait, and nothing more. The link
    // is silent a further 600 ms from their arrival, at 1300 ms; the second line, asked for at
    // 1100 ms and due by 1500 ms, goes then. Counted from when they were read (1100 ms), it
    // would be held until 1700 ms, past its deadline.
    answerFirstWith({{700ms, reply001.substr(0, 5)}});
    connect();
    EXPECT_EQ(exchange("first", 600).reply, u"");
    // The passing of time is what is tested: the bytes must have waited unread meanwhile.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(exchange("second", 2000, 400ms).reply, fromUtf8(reply005));
    EXPECT_EQ(log.lines(), std::vector<Text>{latePrefix + fromUtf8(reply001.substr(0, 5))});
}

TEST_F(LinkExchangeTest, IdleLinkIsWatchedForUnaskedForBytesAndItsEnd)
{
    LogRecorder losses;
    link.setLossSink([&](const std::string& why) { losses.sink()(fromUtf8(why)); });
    connect();
    server.send("noise");
    // No exchange runs: the watch takes the bytes in as they come.
    ASSERT_TRUE(log.waitForCount(1));
    EXPECT_EQ(log.lines(), std::vector<Text>{stalePrefix + u"noise"});

    server.closeConnection();
    ASSERT_TRUE(losses.waitForCount(1));
    EXPECT_EQ(losses.lines(), std::vector<Text>{u"EIdConnClosedGracefully: Connection Closed "
                                                u"Gracefully."});
    EXPECT_THROW(exchange("after the end", 2000), EIdConnClosedGracefully);
}

TEST_F(LinkExchangeTest, LateReplyBeforeTheNextWriteIsDiscardedAsLate)
{
    answerFirstWith({});
    connect();
    EXPECT_EQ(exchange("first", 200).reply, u"");
    server.send(reply001);
    EXPECT_EQ(exchange("second", 2000).reply, fromUtf8(reply005));
    EXPECT_EQ(log.lines(), std::vector<Text>{latePrefix + fromUtf8(reply001)});
}

TEST_F(LinkExchangeTest, NextLineWaitsForTheLateReply)
{
    answerFirstWith({});
    connect();
    EXPECT_EQ(exchange("first", 600).reply, u"");
    auto second = exchangeLater("second", 2000);
    EXPECT_FALSE(server.waitForLines(2, 100ms)) << "no line while the late reply may come";
    server.send(reply001);
    EXPECT_EQ(second.get().reply, fromUtf8(reply005));
    EXPECT_EQ(server.lines(), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(log.lines(), std::vector<Text>{latePrefix + fromUtf8(reply001)});
}

TEST_F(LinkExchangeTest, FramedReplyWhoseEtxEotComesAfterTheWaitIsCompletedLate)
{
    // The code could be read in time, so the first exchange has it; its frame ends late.
    answerFirstWith({{0ms, reply001.substr(0, reply001.size() - 2)}});
    connect();
    EXPECT_EQ(exchange("first", 600).reply, fromUtf8(reply001.substr(0, reply001.size() - 2)));
    auto second = exchangeLater("second", 2000);
    EXPECT_FALSE(server.waitForLines(2, 100ms)) << "no line before the frame has ended";
    server.send("\x03\x04");
    EXPECT_EQ(second.get().reply, fromUtf8(reply005));
    EXPECT_EQ(log.lines(), std::vector<Text>{latePrefix + u"\x03\x04"});
}

TEST_F(LinkExchangeTest, LateReplyBegunWithinTheWaitForItIsAwaitedToItsEnd)
{
    // Its first piece comes 400 ms into the 800 ms wait for a late reply, its rest 600 ms after
    // that: 200 ms after the wait, and 200 ms within a reply wait of the last byte.
    answerFirstWith({{1200ms, reply001.substr(0, 5)}, {600ms, reply001.substr(5)}});
    connect();
    EXPECT_EQ(exchange("first", 800).reply, u"");
    EXPECT_EQ(exchange("second", 2000).reply, fromUtf8(reply005));
    EXPECT_EQ(log.lines(), std::vector<Text>{latePrefix + fromUtf8(reply001)});
}

TEST_F(LinkExchangeTest, ReplySplitBeforeItsCodeAcrossTheWaitNeverAnswersTheNextLine)
{
    answerFirstWith({{0ms, reply001.substr(0, 12)}});
    connect();
    EXPECT_EQ(exchange("first", 200).reply, fromUtf8(reply001.substr(0, 12)));
    server.send(reply001.substr(12));
    EXPECT_EQ(exchange("second", 2000).reply, fromUtf8(reply005));
    EXPECT_EQ(log.lines(), std::vector<Text>{latePrefix + fromUtf8(reply001.substr(12))});
}

TEST_F(LinkExchangeTest, WithoutALateReplyTheNextLineGoesAfterAnotherWait)
{
    answerFirstWith({});
    connect();
    EXPECT_EQ(exchange("first", 200).reply, u"");
    EXPECT_EQ(exchange("second", 2000).reply, fromUtf8(reply005));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(LinkExchangeTest, LineThatCannotBeWrittenBeforeItsDeadlineIsNeverSent)
{
    answerFirstWith({});
    connect();
    EXPECT_EQ(exchange("first", 300).reply, u"");
    EXPECT_EQ(exchange("hurried", 2000, 50ms).outcome, LinkExchange::Outcome::NotSentInTime);
    server.send(reply001);
    EXPECT_EQ(exchange("second", 2000).reply, fromUtf8(reply005));
    EXPECT_EQ(server.lines(), (std::vector<std::string>{"first", "second"}));
}

TEST_F(LinkExchangeTest, QueuedLineWhoseDeadlinePassesLeavesItsPlaceAndIsNeverSent)
{
    answerFirstWith({{600ms, reply001}});
    connect();
    auto first = exchangeLater("first", 2000);
    ASSERT_TRUE(server.waitForLines(1));
    EXPECT_EQ(exchange("hurried", 2000, 50ms).outcome, LinkExchange::Outcome::NotSentInTime);
    EXPECT_EQ(first.get().reply, fromUtf8(reply001));
    EXPECT_EQ(exchange("second", 2000).reply, fromUtf8(reply005));
    EXPECT_EQ(server.lines(), (std::vector<std::string>{"first", "second"}));
}

TEST_F(LinkExchangeTest, RequesterGoneWhenItsTurnComesIsNotSent)
{
    connect();
    const LinkExchange gone =
        link.exchange(u"first", 2000, LockLink::Clock::now() + 10s, [] { return true; });
    EXPECT_EQ(gone.outcome, LinkExchange::Outcome::RequesterGone);
    EXPECT_EQ(exchange("second", 2000).reply, fromUtf8(reply001));
    EXPECT_EQ(server.lines(), std::vector<std::string>{"second"});
}

TEST(LinkConnect, ConnectThatHangsIsAbandonedByAStop)
{
    // A listener whose accept queue is full drops further connects unanswered, as an
    // unreachable host does.
    Socket listening = loopbackSocket();
    listenOn(listening, 0);
    const std::uint16_t port = localPort(listening);
    std::vector<Socket> queued;
    for (int i = 0; i < 4; ++i) {
        queued.push_back(openStream(Family::IPv4));
        try {
            connectIPv4Within(queued.back(), loopbackIPv4(), port, 200);
        } catch (const EIdSocketError& error) {
            ASSERT_EQ(error.number(), 10060);
            break;
        }
    }
    LogRecorder log;
    LockLink link("127.0.0.1", port, log.sink());
    WakeSignal stop;
    auto connecting = std::async(std::launch::async, [&] { link.connect(&stop); });
    EXPECT_EQ(connecting.wait_for(200ms), std::future_status::timeout) << "the connect hangs";
    stop.raise();
    ASSERT_EQ(connecting.wait_for(10s), std::future_status::ready);
    EXPECT_THROW(connecting.get(), EAbort);
    EXPECT_FALSE(link.isConnected());
}

TEST(StopRequest, TheSystemsStopRaisesTheStopSignal)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        StopRequest stop;
        EXPECT_FALSE(stop.requested());
        StopRequest::deliverSystemStop();
        EXPECT_TRUE(waitForWake(stop.signal(), 5000));
        EXPECT_TRUE(stop.requested());
    }
}
