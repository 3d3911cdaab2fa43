// A key request end to end through the listener, the handler and the link, against an
// in-process lock server.

#include "gateway/Gateway.h"
#include "gateway/base/Errors.h"
#include "support/FakeLockServer.h"
#include "support/GatewayFixture.h"
#include "support/KeyRequests.h"
#include "support/LogRecorder.h"
#include "support/TestClient.h"
#include "support/TestProcessFacts.h"
#include "support/WineDifferences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace gateway;
using namespace std::chrono_literals;

namespace {

class KeyRequestRun : public ::testing::Test, protected GatewayFixture
{
};

} // namespace

TEST_F(KeyRequestRun, SuccessWritesLineAnswerAndFourLogLines)
{
    ASSERT_TRUE(startGateway());
    TestClient requester = client();
    requester.send(exampleRequest);
    EXPECT_EQ(requester.readLine(), successAnswer);
    ASSERT_TRUE(log.waitForCount(4));

    ASSERT_EQ(server.lines().size(), 1u);
    EXPECT_EQ(server.lines()[0], exampleLine);
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], fromUtf8(exampleRequest));
    EXPECT_EQ(lines[1], fromUtf8(FakeLockServer::replyWithCode("001")));
    EXPECT_EQ(lines[2], u"001");
    EXPECT_EQ(lines[3], exampleSummary);
    EXPECT_EQ(gateway->handler().latestRequestText(), fromUtf8(exampleRequest));
}

TEST_F(KeyRequestRun, ResultCodeDecidesTheAnswer)
{
    struct Case
    {
        std::string reply;
        std::string answer;
    } cases[] = {
        {FakeLockServer::replyWithCode("002"), successAnswer},
        {FakeLockServer::replyWithCode("003"), failureAnswer("003")},
        {"short reply", failureAnswer("")},      // 11 characters: no code at all
        {"0123456789ab00", failureAnswer("00")}, // 14 characters: shortened code
        {"0123456789ab\"&<", failureAnswer("&quot;&amp;&lt;")},
    };
    ASSERT_TRUE(startGateway());
    TestClient requester = client();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        server.setResponder([&](const std::string&) { return std::optional(c.reply); });
        requester.send(exampleRequest);
        EXPECT_EQ(requester.readLine(), c.answer);
    }
}

TEST_F(KeyRequestRun, NoReplyInTimeGivesEmptyLinesAndFailureAnswer)
{
    server.setResponder([](const std::string&) { return std::nullopt; });
    ASSERT_TRUE(startGateway({.replyWaitMs = 200}));
    TestClient requester = client();
    requester.send(exampleRequest);
    EXPECT_EQ(requester.readLine(), failureAnswer(""));
    ASSERT_TRUE(log.waitForCount(4));
    auto lines = log.lines();
    EXPECT_EQ(lines[1], u"");
    EXPECT_EQ(lines[2], u"");
    EXPECT_EQ(lines[3], exampleSummary);
}

TEST_F(KeyRequestRun, FailedRunsSendNothingAndCloseWithoutAnswer)
{
    struct Case
    {
        const char* what;
        std::string request;
    } cases[] = {
        {"not XML", "hello"},
        {"two requests taken together", exampleRequest + exampleRequest},
        {"another document element", "<KeyRequest room=\"1110\"/>"},
        {"unreadable from date-time",
         R"(<keyrequest room="1110" from-date-time="none" to-date-time="2020-07-16 14:00"/>)"},
        {"no room", R"(<keyrequest from-date-time="2020-07-16" to-date-time="2020-07-16"/>)"},
        {"values as child elements", "<keyrequest><room>1110</room></keyrequest>"},
        {"a folio holding CR LF, which would make two command lines",
         R"(<keyrequest room="1110" folio="1&#13;&#10;XXXXXXXXXXXXXXXXXXXX1003" )"
         R"(from-date-time="2020-07-16" to-date-time="2020-07-16"/>)"},
        {"a room holding a tab",
         R"(<keyrequest room="&#9;1110" from-date-time="2020-07-16" to-date-time="2020-07-16"/>)"},
        {"a key count holding DEL", R"(<keyrequest room="1110" key-count="1&#127;" )"
                                    R"(from-date-time="2020-07-16" to-date-time="2020-07-16"/>)"},
    };
    ASSERT_TRUE(startGateway());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::size_t before = log.lines().size();
        TestClient requester = client();
        requester.send(c.request);
        EXPECT_TRUE(requester.closedWithoutAnswer());
        ASSERT_TRUE(log.waitForCount(before + 1));
        EXPECT_EQ(log.lines().back(), fromUtf8(c.request)) << "only the request is logged";
    }
    EXPECT_TRUE(server.lines().empty());
}

TEST_F(KeyRequestRun, RequestWrittenInPiecesIsGathered)
{
    struct Case
    {
        const char* what;
        std::vector<std::size_t> cuts;
        std::chrono::milliseconds pause;
    } cases[] = {
        {"inside the declaration", {10}, 0ms},
        {"inside an attribute value", {exampleRequest.find("1110") + 2}, 50ms},
        {"before the closing />", {exampleRequest.size() - 2}, 30ms},
        {"in three pieces", {20, 120}, 40ms},
    };
    ASSERT_TRUE(startGateway());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t logged = log.lines().size();
        TestClient requester = client();
        std::size_t from = 0;
        for (std::size_t cut : c.cuts) {
            requester.send(exampleRequest.substr(from, cut - from));
            // The front desk writing its request in pieces, a pause apart.
            std::this_thread::sleep_for(c.pause);
            from = cut;
        }
        requester.send(exampleRequest.substr(from));
        EXPECT_EQ(requester.readLine(), successAnswer);
        ASSERT_TRUE(log.waitForCount(logged + 4));
        EXPECT_EQ(log.lines()[logged], fromUtf8(exampleRequest));
        EXPECT_EQ(server.lines().back(), exampleLine);
    }
}

TEST_F(KeyRequestRun, RequestWhoseRestNeverComesIsReadAfterTheGatherWait)
{
    ASSERT_TRUE(startGateway());
    TestClient requester = client();
    const std::string part = exampleRequest.substr(0, 60);
    requester.send(part);
    EXPECT_TRUE(requester.closedWithoutAnswer());
    EXPECT_EQ(log.lines(), std::vector<Text>{fromUtf8(part)});
    EXPECT_TRUE(server.lines().empty());
}

TEST_F(KeyRequestRun, QueuedRequestWithoutATurnInTimeIsAnsweredFailureAndNeverSent)
{
    // The first line gets no reply: the link then waits out a late reply, longer than the
    // second request may wait.
    server.setResponder([](const std::string&) { return std::nullopt; });
    ASSERT_TRUE(startGateway({.replyWaitMs = 1000}));
    TestClient first = client();
    first.send(exampleRequest);
    ASSERT_TRUE(server.waitForLines(1));
    TestClient second = client();
    second.send(requestForRoom("2500"));
    EXPECT_EQ(second.readLine(), failureAnswer(""));
    EXPECT_EQ(first.readLine(), failureAnswer(""));
    ASSERT_TRUE(log.waitUntil([](const std::vector<Text>& lines) {
        return std::count(lines.begin(), lines.end(),
                          u"Not sent to the lock system: the link was not free within 1000 ms; "
                          u"answered that no key was made") == 1;
    }));
    EXPECT_EQ(server.lines().size(), 1u);

    // On record: the second was never sent and no code decided it; the first went out and its
    // reply never came, so an empty code did.
    ASSERT_TRUE(records.waitForCount(2));
    const KeyRecord notSent = recordFor(u"2500");
    EXPECT_FALSE(notSent.lineSent);
    EXPECT_FALSE(notSent.code);
    EXPECT_EQ(notSent.answer, KeyRecord::Answer::NotMade);
    EXPECT_EQ(notSent.reason, "not sent in time");
    EXPECT_GE(notSent.took, 1000ms);
    const KeyRecord timedOut = recordFor(u"1110");
    EXPECT_TRUE(timedOut.lineSent);
    EXPECT_EQ(timedOut.code, u"");
    EXPECT_EQ(timedOut.answer, KeyRecord::Answer::NotMade);
    EXPECT_EQ(timedOut.reason, "");
}

TEST_F(KeyRequestRun, QueuedRequestWhoseClientResetIsNeverSent)
{
    if (runningUnderWine()) {
        GTEST_SKIP() << resetUnseenUnderWine;
    }
    server.setResponder(server.inPieces([](const std::string&) {
        return std::vector<FakeLockServer::Piece>{{300ms, FakeLockServer::replyWithCode("001")}};
    }));
    ASSERT_TRUE(startGateway());
    TestClient first = client();
    first.send(exampleRequest);
    ASSERT_TRUE(server.waitForLines(1));
    {
        TestClient gone = client();
        gone.send(requestForRoom("2500"));
        // Taken, and so waiting for the link, once it is logged.
        ASSERT_TRUE(log.waitForCount(2));
        gone.reset();
    }
    EXPECT_EQ(first.readLine(), successAnswer);
    ASSERT_TRUE(log.waitUntil([](const std::vector<Text>& lines) {
        return std::count(lines.begin(), lines.end(),
                          u"Not sent to the lock system: the requesting client has reset its "
                          u"connection") == 1;
    }));
    TestClient next = client();
    next.send(requestForRoom("3500"));
    EXPECT_EQ(next.readLine(), successAnswer);
    ASSERT_EQ(server.lines().size(), 2u);
    EXPECT_EQ(server.lines()[1].substr(20, 4), "3500");
}

TEST_F(KeyRequestRun, SecondRequestOnOneConnectionAndHalfClose)
{
    ASSERT_TRUE(startGateway());
    TestClient requester = client();
    requester.send(exampleRequest);
    EXPECT_EQ(requester.readLine(), successAnswer);
    requester.send(requestForRoom("2500"));
    requester.shutdownSending();
    EXPECT_EQ(requester.readLine(), successAnswer);
    EXPECT_TRUE(requester.closedWithoutAnswer());
    ASSERT_EQ(server.lines().size(), 2u);
    EXPECT_EQ(server.lines()[1].substr(20, 18), "2500           117");
}

TEST_F(KeyRequestRun, LateReplyIsDiscardedAndNextRequestGetsItsOwn)
{
    server.setResponder([](const std::string&) { return std::nullopt; });
    ASSERT_TRUE(startGateway({.replyWaitMs = 200}));
    TestClient requester = client();
    requester.send(exampleRequest);
    EXPECT_EQ(requester.readLine(), failureAnswer(""));

    // The reply to the first line comes after its wait has ended.
    server.send(FakeLockServer::replyWithCode("001"));
    server.setResponder(
        [](const std::string&) { return std::optional(FakeLockServer::replyWithCode("005")); });
    ASSERT_TRUE(log.waitForCount(4));
    requester.send(exampleRequest);
    EXPECT_EQ(requester.readLine(), failureAnswer("005"));
    ASSERT_TRUE(log.waitForCount(9));
    auto lines = log.lines();
    // Logged once, when it came (among the first request's lines, as they are logged on another
    // thread), or, if the next request took the link first, before that one's line.
    const Text late = u"Discarded a late reply from the lock system; a key may have been made "
                      u"for the previous request: " +
                      fromUtf8(FakeLockServer::replyWithCode("001"));
    const auto lateAt = std::find(lines.begin(), lines.end(), late);
    EXPECT_LT(lateAt - lines.begin(), 6);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), late), 1);
    EXPECT_EQ(lines[7], u"005");
}

TEST_F(KeyRequestRun, SecondPieceOfSplitReplyNeverAnswersTheNextRequest)
{
    const std::string reply = FakeLockServer::replyWithCode("001");
    server.setResponder([&](const std::string&) { return std::optional(reply.substr(0, 5)); });
    ASSERT_TRUE(startGateway({.replyWaitMs = 300}));
    TestClient requester = client();
    requester.send(exampleRequest);
    EXPECT_EQ(requester.readLine(), failureAnswer("")); // first piece only: no code yet

    server.send(reply.substr(5));
    server.setResponder(
        [](const std::string&) { return std::optional(FakeLockServer::replyWithCode("003")); });
    requester.send(exampleRequest);
    EXPECT_EQ(requester.readLine(), failureAnswer("003"));
}

TEST_F(KeyRequestRun, HeadOfAFrameCutShortNeverDecidesTheAnswer)
{
    // A lock system that sends the head of a frame cut short, then its whole reply: every head
    // (STX and 0 to 16 characters) is a leftover, in the reply's piece or in one before it. Each
    // head comes from a reply with the other code, its EOT replaced so that no head is whole, so
    // that one read from the head's STX shows as the wrong answer (a head of 4 characters before
    // 023 puts "001" at 13 to 15).
    ASSERT_TRUE(startGateway());
    TestClient requester = client();
    for (const std::string code : {"001", "023"}) {
        const std::string reply = FakeLockServer::replyWithCode(code);
        std::string other = FakeLockServer::replyWithCode(code == "001" ? "023" : "001");
        other.back() = '0';
        for (std::size_t cut = 0; cut <= 16; ++cut) {
            const std::string head = other.substr(0, 1 + cut);
            for (const bool samePiece : {true, false}) {
                SCOPED_TRACE("code " + code + ", " + std::to_string(cut) + " characters cut, " +
                             (samePiece ? "one piece" : "two pieces"));
                server.setResponder(server.inPieces([&](const std::string&) {
                    return samePiece
                               ? std::vector<FakeLockServer::Piece>{{0ms, head + reply}}
                               : std::vector<FakeLockServer::Piece>{{0ms, head}, {20ms, reply}};
                }));
                const std::size_t before = log.lines().size();
                requester.send(exampleRequest);
                EXPECT_EQ(requester.readLine(),
                          code == "001" ? successAnswer : failureAnswer(code));
                ASSERT_TRUE(log.waitForCount(before + 5));
                const auto lines = log.lines();
                const std::vector<Text> run(lines.begin() + static_cast<std::ptrdiff_t>(before),
                                            lines.end());
                EXPECT_EQ(run[1], u"Discarded stale data from the lock system: " + fromUtf8(head));
                EXPECT_EQ(run[2], fromUtf8(reply));
                EXPECT_EQ(run[3], fromUtf8(code));
            }
        }
    }
}

TEST_F(KeyRequestRun, ServerClosingTheLinkFailsLaterExchanges)
{
    ASSERT_TRUE(startGateway());
    TestClient first = client();
    first.send(exampleRequest);
    EXPECT_EQ(first.readLine(), successAnswer);

    server.closeConnection();
    for (int i = 0; i < 2; ++i) {
        TestClient requester = client();
        requester.send(exampleRequest);
        EXPECT_TRUE(requester.closedWithoutAnswer());
    }
    EXPECT_EQ(server.lines().size(), 1u);
    EXPECT_FALSE(gateway->link().isConnected());
}

TEST_F(KeyRequestRun, ResetDuringTheWaitFailsTheExchange)
{
    if (runningUnderWine()) {
        GTEST_SKIP() << resetUnseenUnderWine;
    }
    server.setResponder([&](const std::string&) {
        server.resetConnection();
        return std::nullopt;
    });
    ASSERT_TRUE(startGateway());
    TestClient requester = client();
    requester.send(exampleRequest);
    EXPECT_TRUE(requester.closedWithoutAnswer());
    EXPECT_EQ(server.lines().size(), 1u);
    try {
        gateway->link().exchange(u"again", 100, LockLink::Clock::now() + 1s);
        FAIL() << "a broken link must keep failing";
    } catch (const EIdSocketError&) {
    } catch (const EIdConnClosedGracefully&) {
    }
}

TEST_F(KeyRequestRun, LinkThatNeverConnectedFailsEachRunSafely)
{
    ASSERT_TRUE(startGateway({.replyWaitMs = 200, .connectLink = false}));
    TestClient requester = client();
    requester.send(exampleRequest);
    EXPECT_TRUE(requester.closedWithoutAnswer());
    EXPECT_THROW(gateway->link().exchange(u"test", 10, LockLink::Clock::now() + 1s),
                 ELinkNotConnected);
}

TEST_F(KeyRequestRun, ClientResetMidExchangeLeavesGatewayServing)
{
    server.setResponder([](const std::string&) { return std::nullopt; });
    ASSERT_TRUE(startGateway({.replyWaitMs = 300}));
    {
        TestClient requester = client();
        requester.send(exampleRequest);
        ASSERT_TRUE(server.waitForLines(1));
        requester.reset();
    }
    // The exchange ends without a reply (request, empty reply, empty code); the reply then
    // comes late and frees the link for the next request.
    ASSERT_TRUE(log.waitForCount(3));
    server.send(FakeLockServer::replyWithCode("002"));
    server.setResponder(
        [](const std::string&) { return std::optional(FakeLockServer::replyWithCode("001")); });
    TestClient next = client();
    next.send(exampleRequest);
    EXPECT_EQ(next.readLine(), successAnswer);
    EXPECT_EQ(server.lines().size(), 2u);
}

TEST_F(KeyRequestRun, IPv6ClientIsServedLikeIPv4)
{
    if (!ipv6Available()) {
        GTEST_SKIP() << "no IPv6 on this machine";
    }
    ASSERT_TRUE(startGateway());
    std::optional<TestClient> requester;
    try {
        requester.emplace(gateway->listener().port(), Family::IPv6);
    } catch (const std::exception&) {
        GTEST_SKIP() << "no IPv6 loopback address";
    }
    requester->send(exampleRequest);
    EXPECT_EQ(requester->readLine(), successAnswer);
}

TEST_F(KeyRequestRun, ManyClientsAtOnceEachGetTheAnswerToTheirOwnRoom)
{
    // The server's code is the room's last three digits: an answer paired with the wrong
    // line would carry another client's code.
    server.setResponder(replyWithCodeFromRoom);
    ASSERT_TRUE(startGateway());
    constexpr int clients = 32;
    constexpr int requestsEach = 5;
    std::atomic<int> mismatches{0};
    requestFromManyClients(clients, requestsEach,
                           [&](int room, const std::optional<std::string>& answer) {
                               if (answer != answerForRoom(room)) {
                                   ++mismatches;
                               }
                           });
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(server.lines().size(), std::size_t(clients * requestsEach));
}

TEST_F(KeyRequestRun, RefusedLinkConnectReportsTheSocketError)
{
    std::uint16_t freePort = 0;
    {
        // A port that was just free: nothing listens there.
        FakeLockServer gone;
        freePort = gone.port();
    }
    const GatewayOptions options = testGatewayOptions(freePort);
    // The fake server above is gone; its port refuses.
    Gateway lonely(options, log.sink());
    try {
        lonely.connectLink();
        FAIL() << "connect must be refused";
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.number(), 10061);
        EXPECT_STREQ(error.what(), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_FALSE(lonely.link().isConnected());
}
