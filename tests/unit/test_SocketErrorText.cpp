#include "gateway/base/SocketErrorText.h"

#include <gtest/gtest.h>

using namespace gateway;

// The texts as the operator reads them, to the letter (10066 has no full stop).
TEST(SocketErrorText, NamesEveryKnownNumber)
{
    struct Case
    {
        int number;
        const char* text;
    } cases[] = {
        {10004, "Interrupted system call."},
        {10013, "Access denied."},
        {10024, "Too many open files."},
        {10035, "Operation would block."},
        {10038, "Socket operation on non-socket."},
        {10047, "Address family not supported by protocol family."},
        {10048, "Address already in use."},
        {10049, "Cannot assign requested address."},
        {10053, "Software caused connection abort."},
        {10054, "Connection reset by peer."},
        {10058, "Cannot send or receive after socket is closed."},
        {10060, "Connection timed out."},
        {10061, "Connection refused."},
        {10065, "No route to host."},
        {10066, "Directory not empty"},
        {11001, "Host not found."},
        {11002, "Non-authoritative host not found."},
        {11003, "This is a non-recoverable error."},
        {11004, "Valid name, no data record of requested type."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(socketErrorText(c.number), c.text);
    }
}

// Numbers between and beyond the known ones, and the POSIX errno values that only their
// Windows Sockets numbers stand for.
TEST(SocketErrorText, UnknownNumberHasNoText)
{
    for (int number : {0, -1, 10000, 10003, 10010, 10067, 11000, 11005, 32, 104, 111}) {
        SCOPED_TRACE(number);
        EXPECT_EQ(socketErrorText(number), "");
    }
}

TEST(SocketErrorText, MessageIsTheNumberThenCrLfAndTheText)
{
    struct Case
    {
        int number;
        const char* message;
    } cases[] = {
        {10061, "Socket Error # 10061\r\nConnection refused."},
        {10060, "Socket Error # 10060\r\nConnection timed out."},
        {10066, "Socket Error # 10066\r\nDirectory not empty"},
        {11001, "Socket Error # 11001\r\nHost not found."},
        {10010, "Socket Error # 10010\r\n"},
        {0, "Socket Error # 0\r\n"},
        {-1, "Socket Error # -1\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(socketErrorMessage(c.number), c.message);
    }
}
