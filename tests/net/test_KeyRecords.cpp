// Every request that was read leaves one record of what became of it: who asked for which keys,
// whether its line went to the lock system, the code that came back and what the front desk was
// told, or why it was told nothing.

#include "gateway/KeyRecord.h"
#include "gateway/base/Errors.h"
#include "support/GatewayFixture.h"
#include "support/KeyRequests.h"
#include "support/TestProcessFacts.h"
#include "support/WineDifferences.h"

#include <gtest/gtest.h>

using namespace gateway;
using namespace std::chrono_literals;

namespace {

class KeyRecords : public ::testing::Test, protected GatewayFixture
{
protected:
    // The only record there is, once it has come.
    KeyRecord onlyRecord()
    {
        EXPECT_TRUE(records.waitForCount(1));
        const auto all = records.items();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? KeyRecord{} : all.front();
    }
};

} // namespace

TEST_F(KeyRecords, MadeAndNotMadeKeysWithWhoAskedAndWhatWasSent)
{
    struct Case
    {
        const char* code;
        KeyRecord::Answer answer;
    } cases[] = {
        {"001", KeyRecord::Answer::Made},
        {"003", KeyRecord::Answer::NotMade},
    };
    ASSERT_TRUE(startGateway());
    std::size_t count = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        server.setResponder([&](const std::string&) {
            return std::optional(FakeLockServer::replyWithCode(c.code));
        });
        TestClient requester = client();
        requester.send(stayRequest);
        ASSERT_TRUE(requester.readLine());
        ASSERT_TRUE(records.waitForCount(++count));
        const KeyRecord record = records.items().back();
        ASSERT_TRUE(record.frontDesk);
        EXPECT_EQ(addressText(record.frontDesk->address), "127.0.0.1");
        EXPECT_NE(record.frontDesk->port, 0);
        ASSERT_TRUE(record.request);
        EXPECT_EQ(record.request->room, u"1110");
        EXPECT_EQ(record.request->folio, u"123456");
        EXPECT_EQ(record.request->keyCount, u"1");
        EXPECT_EQ(record.request->keyType, u"0");
        EXPECT_EQ(record.request->fromDateTime, u"2020-07-16 14:00:00");
        EXPECT_EQ(record.request->toDateTime, u"2020-07-17 11:00:00");
        // The line carries the to date-time in both its date positions.
        EXPECT_EQ(record.firstLineDate, u"0717201100");
        EXPECT_EQ(record.secondLineDate, u"0717201100");
        EXPECT_TRUE(record.lineSent);
        EXPECT_EQ(record.code, fromUtf8(c.code));
        EXPECT_EQ(record.answer, c.answer);
        EXPECT_EQ(record.reason, "");
        EXPECT_EQ(record.failure, "");
        EXPECT_LE(record.received, record.answered);
    }
    EXPECT_EQ(records.items().size(), 2u) << "idle runs between requests leave no record";
}

TEST_F(KeyRecords, UnreadableRequestsSayWhy)
{
    struct Case
    {
        const char* what;
        std::string request;
        bool valuesRead;
        const char* failure;
    } cases[] = {
        {"not XML", "hello", false, "EDOMParseError: "},
        {"an unreadable date",
         R"(<keyrequest room="1110" from-date-time="none" to-date-time="2020-07-16 14:00"/>)", true,
         "EConvertError: 'none' is not a valid date and time"},
    };
    ASSERT_TRUE(startGateway());
    std::size_t count = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestClient requester = client();
        requester.send(c.request);
        EXPECT_TRUE(requester.closedWithoutAnswer());
        ASSERT_TRUE(records.waitForCount(++count));
        const KeyRecord record = records.items().back();
        EXPECT_EQ(record.request.has_value(), c.valuesRead);
        EXPECT_FALSE(record.firstLineDate);
        EXPECT_FALSE(record.lineSent);
        EXPECT_FALSE(record.code);
        EXPECT_EQ(record.answer, KeyRecord::Answer::None);
        EXPECT_EQ(record.reason, "request not readable");
        EXPECT_EQ(record.failure.rfind(c.failure, 0), 0u) << record.failure;
    }
    EXPECT_TRUE(server.lines().empty());
}

TEST_F(KeyRecords, WithTheLinkDownNothingIsSentOrAnswered)
{
    ASSERT_TRUE(startGateway({.connectLink = false}));
    TestClient requester = client();
    requester.send(exampleRequest);
    EXPECT_TRUE(requester.closedWithoutAnswer());
    const KeyRecord record = onlyRecord();
    EXPECT_TRUE(record.request);
    EXPECT_TRUE(record.firstLineDate);
    EXPECT_FALSE(record.lineSent);
    EXPECT_EQ(record.answer, KeyRecord::Answer::None);
    EXPECT_EQ(record.reason, "link down");
    EXPECT_EQ(record.failure, std::string("ELinkNotConnected: ") + messages::linkNotConnected);
}

TEST_F(KeyRecords, AFrontDeskGoneBeforeItsAnswerLeavesTheCodeOnRecord)
{
    if (runningUnderWine()) {
        GTEST_SKIP() << resetUnseenUnderWine;
    }
    std::optional<TestClient> requester;
    server.setResponder([&](const std::string&) {
        // The front desk is gone once the line has come, before the reply is back.
        requester->reset();
        return std::optional(FakeLockServer::replyWithCode("001"));
    });
    ASSERT_TRUE(startGateway());
    requester.emplace(client());
    requester->send(exampleRequest);
    const KeyRecord record = onlyRecord();
    EXPECT_TRUE(record.lineSent);
    EXPECT_EQ(record.code, u"001") << "the keys were made: the record must say so";
    EXPECT_EQ(record.answer, KeyRecord::Answer::None);
    EXPECT_EQ(record.reason, "front desk gone");
}
