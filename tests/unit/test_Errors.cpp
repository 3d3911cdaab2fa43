#include "gateway/base/Errors.h"

#include <gtest/gtest.h>

using namespace gateway;

TEST(EIdSocketError, MessageCarriesNumberAndText)
{
    struct Case
    {
        int number;
        const char* message;
    } cases[] = {
        {10061, "Socket Error # 10061\r\nConnection refused."},
        {10054, "Socket Error # 10054\r\nConnection reset by peer."},
        {11001, "Socket Error # 11001\r\nHost not found."},
        {11002, "Socket Error # 11002\r\nNon-authoritative host not found."},
        {10066, "Socket Error # 10066\r\nDirectory not empty"},
        {10010, "Socket Error # 10010\r\n"},
        {32, "Socket Error # 32\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(EIdSocketError(c.number).what(), c.message);
    }
}

TEST(EIdSocketError, NotASocketHasItsOwnClass)
{
    EXPECT_THROW(throwSocketError(10038), EIdNotASocket);
    try {
        throwSocketError(10061);
    } catch (const EIdNotASocket&) {
        FAIL() << "10061 is an ordinary socket error";
    } catch (const EIdSocketError& e) {
        EXPECT_STREQ(e.className(), "EIdSocketError");
        EXPECT_EQ(e.number(), 10061);
    }
}
