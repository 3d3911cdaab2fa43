// Hostile input and heavy use through the whole path (listener, handler, link) against an
// in-process lock server: garbage replies, oversized and malicious requests, many connections
// at once, and a shutdown while many requests are under way.

#include "gateway/Gateway.h"
#include "gateway/base/Settings.h"
#include "support/FakeLockServer.h"
#include "support/FinishesWithin.h"
#include "support/GatewayFixture.h"
#include "support/KeyRequests.h"
#include "support/LogRecorder.h"
#include "support/TestClient.h"
#include "support/TestProcessFacts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <random>

using namespace gateway;
using namespace std::chrono_literals;

namespace {

bool isRequestLine(const Text& line)
{
    return line.starts_with(u"<keyrequest");
}

class FaultsAndLoad : public ::testing::Test, protected GatewayFixture
{
protected:
    // A request that must still be answered after whatever the test did before.
    void expectStillServing(int room = 1003)
    {
        server.setResponder(replyWithCodeFromRoom);
        TestClient next = client();
        next.send(requestForRoom(room));
        EXPECT_EQ(next.readLine(), answerForRoom(room));
    }

    // Count clients, each sending the request for room firstRoom + its index. They connect in
    // waves no larger than the listen backlog, each wave once the previous one's requests are
    // logged (so accepted): a larger burst has its surplus connects dropped by the system and
    // retried only after its 1 s retransmission wait.
    std::vector<TestClient> openRequesters(int count, int firstRoom)
    {
        std::vector<TestClient> clients;
        clients.reserve(count);
        const std::ptrdiff_t logged = static_cast<std::ptrdiff_t>(log.lines().size());
        while (static_cast<int>(clients.size()) < count) {
            const int wave = std::min<int>(settings::listenBacklog, count - int(clients.size()));
            for (int i = 0; i < wave; ++i) {
                clients.emplace_back(gateway->listener().port());
                clients.back().send(requestForRoom(firstRoom + int(clients.size()) - 1));
            }
            const bool accepted = log.waitUntil([&](const std::vector<Text>& lines) {
                return std::count_if(lines.begin() + logged, lines.end(), isRequestLine) ==
                       static_cast<std::ptrdiff_t>(clients.size());
            });
            if (!accepted) {
                ADD_FAILURE() << "requests of the wave ending at " << clients.size()
                              << " were not all taken";
                break;
            }
        }
        return clients;
    }
};

} // namespace

TEST_F(FaultsAndLoad, GarbageRepliesGiveOneLineFailureAnswers)
{
    // The code is characters 13 to 15 of whatever came; on the wire every character above
    // U+007F (bytes above 0x7F arrive as U+FFFD) is "?".
    struct Case
    {
        const char* what;
        std::string reply;
        std::string answer;
    } cases[] = {
        {"control bytes as the code", "0123456789ab" + std::string("\x00\x1b\x7f", 3),
         failureAnswer("??\x7f")},
        // Before the reply they are leftovers of earlier bytes, not the reply's.
        {"control bytes before the reply",
         std::string("\x01\x05\x06\x07\x08\x0b\x0c\x0e\x0f\x10\x11\x12\x00", 13) +
             "0123456789ab006",
         failureAnswer("006")},
        {"framing bytes as the code: the reply starts at its STX", "0123456789ab\x02\x03\x04",
         failureAnswer("")},
        {"line breaks as the code", "0123456789ab\r\n\t", failureAnswer("&#13;&#10;&#9;")},
        {"bytes above 0x7F", "0123456789ab\xff\x80\xe9", failureAnswer("???")},
        {"a success code after high bytes",
         "\xff\xfe\xfd\xfc\xfb\xfa\xf9\xf8\xf7\xf6\xf5\xf4"
         "001\xff",
         successAnswer},
    };
    ASSERT_TRUE(startGateway());
    TestClient requester = client();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        server.setResponder([&](const std::string&) { return std::optional(c.reply); });
        requester.send(requestForRoom(1110));
        EXPECT_EQ(requester.readLine(), c.answer);
    }
}

TEST_F(FaultsAndLoad, VeryLongReplyIsTakenOnceAndItsRestDiscardedBeforeTheNextExchange)
{
    // More than one receive holds, less than the socket buffers hold: all of it is on its way
    // before the first receive returns.
    const std::string longReply = std::string(12, 'x') + "004" + std::string(60000 - 15, 'y');
    server.setResponder([&](const std::string&) { return std::optional(longReply); });
    ASSERT_TRUE(startGateway());
    TestClient requester = client();
    requester.send(requestForRoom(1110));
    EXPECT_EQ(requester.readLine(), failureAnswer("004"));
    ASSERT_TRUE(log.waitForCount(4));
    const Text taken = log.lines()[1];
    EXPECT_LE(taken.size(), settings::receiveSize);

    expectStillServing(1005);
    ASSERT_TRUE(log.waitForCount(9));
    const Text discarded = log.lines()[5];
    const Text prefix = u"Discarded stale data from the lock system: yyyy";
    ASSERT_EQ(discarded.substr(0, prefix.size()), prefix);
    // A flood of bytes is shown in part, with its size: every byte of the long reply is either
    // taken or discarded.
    const std::string inAll =
        " ... (" + std::to_string(longReply.size() - taken.size()) + " bytes in all)";
    EXPECT_TRUE(toUtf8(discarded).ends_with(inAll)) << toUtf8(discarded);
    EXPECT_LE(discarded.size(), prefix.size() + 256 + inAll.size());
}

TEST_F(FaultsAndLoad, RequestOverOneReceiveIsTakenInPartsAndFailsAsMalformed)
{
    ASSERT_TRUE(startGateway());
    // Well-formed as a whole, but one receive takes at most 32768 bytes.
    const std::string request = R"(<keyrequest room="1110" folio=")" + std::string(40000, 'F') +
                                R"(" from-date-time="2020-07-16" to-date-time="2020-07-16"/>)";
    {
        TestClient requester = client();
        requester.send(request);
        EXPECT_TRUE(requester.closedWithoutAnswer());
    }
    ASSERT_TRUE(log.waitForCount(1));
    const Text firstPart = log.lines()[0];
    EXPECT_LE(firstPart.size(), settings::receiveSize);
    EXPECT_EQ(firstPart, fromUtf8(request.substr(0, firstPart.size())));
    EXPECT_TRUE(server.lines().empty()) << "nothing goes to the lock system";
    expectStillServing();
}

TEST_F(FaultsAndLoad, EntityBombsAndExternalEntitiesCloseWithoutAnswerOrFileRead)
{
    // Were the file read, its content would make a readable room and the request would go
    // through to the lock system.
    const auto directory = std::filesystem::temp_directory_path();
    // Apart from those of a test process running at the same time.
    const std::string unique = std::to_string(std::random_device{}());
    const auto secret = directory / ("velmor-secret-" + unique);
    const auto definitions = directory / ("velmor-dtd-" + unique + ".dtd");
    std::ofstream(secret) << "1110";
    std::ofstream(definitions) << "<!ENTITY room \"1110\">"
                                  "<!ATTLIST keyrequest room CDATA \"1110\">";
    const std::string dates = R"( from-date-time="2020-07-16" to-date-time="2020-07-16"/>)";
    const std::string laughs = "<!DOCTYPE keyrequest [<!ENTITY a \"laughlaughlaughlaugh\">"
                               "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c "
                               "\"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                               "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e "
                               "\"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
                               "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g "
                               "\"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">"
                               "<!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\"><!ENTITY i "
                               "\"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">]>";
    std::string wide = "<!DOCTYPE keyrequest [<!ENTITY w \"" + std::string(20000, 'w') + "\">]>";
    wide += R"(<keyrequest room=")";
    for (int i = 0; i < 1000; ++i) {
        wide += "&w;";
    }
    wide += "\"" + dates;

    struct Case
    {
        const char* what;
        std::string request;
    } cases[] = {
        {"nested expansion (10^8 laughs)", laughs + R"(<keyrequest room="&i;")" + dates},
        {"one large entity many times (20 MB)", wide},
        {"external general entity", "<!DOCTYPE keyrequest [<!ENTITY x SYSTEM \"file://" +
                                        secret.string() + "\">]>" + R"(<keyrequest room="&x;")" +
                                        dates},
        {"external parameter entity", "<!DOCTYPE keyrequest [<!ENTITY % p SYSTEM \"file://" +
                                          definitions.string() + "\"> %p;]>" +
                                          R"(<keyrequest room="&room;")" + dates},
        {"external DTD with a default room",
         "<!DOCTYPE keyrequest SYSTEM \"file://" + definitions.string() + "\"><keyrequest" + dates},
    };
    ASSERT_TRUE(startGateway());
    const std::int64_t peakBefore = peakResidentKiB();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_LE(c.request.size(), settings::receiveSize) << "taken as one request";
        TestClient requester = client();
        requester.send(c.request);
        EXPECT_TRUE(requester.closedWithoutAnswer());
    }
    std::filesystem::remove(secret);
    std::filesystem::remove(definitions);
    EXPECT_TRUE(server.lines().empty()) << "no request made it to the lock system";
    // A bound far below what any of the expansions would take if it were carried out.
    EXPECT_LT(peakResidentKiB() - peakBefore, 256 * 1024) << "KiB of extra peak memory";
    expectStillServing();
}

TEST_F(FaultsAndLoad, ClientGoneBeforeItsAnswerNeitherSignalsNorStopsServing)
{
    // The reply comes only once the client has closed; the answer then meets a closed peer.
    std::promise<void> clientClosed;
    auto closed = clientClosed.get_future().share();
    server.setResponder([closed](const std::string&) {
        closed.wait();
        return std::optional(FakeLockServer::replyWithCode("001"));
    });
    ASSERT_TRUE(startGateway());
    for (int i = 0; i < 2; ++i) {
        TestClient requester = client();
        requester.send(requestForRoom(1110));
        if (i == 0) {
            ASSERT_TRUE(server.waitForLines(1));
        }
    }
    clientClosed.set_value();
    ASSERT_TRUE(server.waitForLines(2));
    expectStillServing();
}

TEST_F(FaultsAndLoad, FiveHundredConnectionsAtOnceAreEachAnsweredForTheirOwnRoom)
{
    constexpr int connections = 500;
    // Both ends of every connection live in this process.
    const std::uint64_t needed = 2 * connections + 100;
    if (!allowOpenSockets(needed)) {
        GTEST_SKIP() << "the system allows fewer than " << needed << " open sockets";
    }
    server.setResponder(replyWithCodeFromRoom);
    ASSERT_TRUE(startGateway());

    // All stay open until every answer has been read.
    std::vector<TestClient> clients = openRequesters(connections, 1000);
    ASSERT_EQ(clients.size(), std::size_t(connections));
    for (int i = 0; i < connections; ++i) {
        auto answer = clients[i].readLine();
        // One lost answer is enough to know; waiting out the rest would take minutes.
        ASSERT_TRUE(answer) << "connection " << i << " got no answer";
        EXPECT_EQ(*answer, answerForRoom(1000 + i)) << "connection " << i;
    }
    EXPECT_EQ(server.lines().size(), std::size_t(connections));
}

TEST_F(FaultsAndLoad, InOrderLockSystemWithRandomDelaysAndSplitsNeverGivesAnotherLinesCode)
{
    // Replies come in order, each after a delay around the reply wait (up to one and a half
    // times it, so that each comes within the link's wait for a late reply) and in two pieces a
    // random pause apart: some in time, some late, some begun in time and completed late.
    constexpr int replyWaitMs = 200;
    // The responder shares in its generator: the server is still working through queued
    // lines after the last requester gave up on its answer, when this body's locals are gone;
    // and the server calls a copy of its responder for each line.
    server.setResponder(server.inPieces([random = std::make_shared<std::mt19937>(20261210)](
                                            const std::string& line) {
        const std::string reply = *replyWithCodeFromRoom(line);
        // Half of them well in time, half late.
        const bool late = std::bernoulli_distribution(0.5)(*random);
        const auto delay =
            late ? std::uniform_int_distribution<int>(replyWaitMs, replyWaitMs * 3 / 2)(*random)
                 : std::uniform_int_distribution<int>(0, replyWaitMs / 4)(*random);
        const auto cut = std::uniform_int_distribution<std::size_t>(1, reply.size() - 1)(*random);
        const auto pause = std::uniform_int_distribution<int>(0, 80)(*random);
        return std::vector<FakeLockServer::Piece>{
            {std::chrono::milliseconds(delay), reply.substr(0, cut)},
            {std::chrono::milliseconds(pause), reply.substr(cut)}};
    }));
    ASSERT_TRUE(startGateway({.replyWaitMs = replyWaitMs}));

    constexpr int clients = 2;
    constexpr int requestsEach = 15;
    std::atomic<int> ownCode{0};
    std::atomic<int> noCode{0};
    std::atomic<int> wrong{0};
    requestFromManyClients(
        clients, requestsEach, [&](int room, const std::optional<std::string>& answer) {
            if (answer == answerForRoom(room)) {
                ++ownCode;
            } else if (answer == failureAnswer("")) {
                // Late, or not sent in time: no key made, no code to report.
                ++noCode;
            } else {
                ++wrong;
                ADD_FAILURE() << "room " << room << ": " << answer.value_or("no answer");
            }
        });
    EXPECT_EQ(wrong, 0) << "answers without their own line's code, or no answer at all";
    EXPECT_EQ(ownCode + noCode, clients * requestsEach);
    EXPECT_GT(ownCode, 0) << "no reply came in time: the test proved nothing";
}

// A shutdown while requests are under way: one exchange waits for a reply that never comes,
// any others wait for the link. The listener's bound ends the wait for them.
class ShutdownInFlight : public FaultsAndLoad, public ::testing::WithParamInterface<int>
{
};

TEST_P(ShutdownInFlight, EndsWithinItsBoundAndClosesEveryRequesterWithoutAnswer)
{
    server.setResponder([](const std::string&) { return std::nullopt; });
    ASSERT_TRUE(startGateway({.replyWaitMs = 600000, .terminateWaitMs = 200}));
    // Every run logs its request before it goes for the link.
    std::vector<TestClient> clients = openRequesters(GetParam(), 1000);
    ASSERT_TRUE(server.waitForLines(1));

    expectFinishesWithin("the shutdown", 20s, [&] { gateway->shutdown(); });
    for (auto& requester : clients) {
        EXPECT_TRUE(requester.closedWithoutAnswer());
    }
    EXPECT_EQ(server.lines().size(), 1u) << "cancelled exchanges send nothing";
    EXPECT_EQ(gateway->listener().liveConnections(), 0u);
}

INSTANTIATE_TEST_SUITE_P(FaultsAndLoad, ShutdownInFlight, ::testing::Values(1, 20),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("OneExchange")
                                                    : std::to_string(info.param) + "Requests";
                         });
