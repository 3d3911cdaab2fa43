#include "gateway/base/ReadableText.h"

#include "gateway/base/Errors.h"

#include <gtest/gtest.h>

using namespace gateway;

TEST(ReadableText, ControlCharactersByNameOrCodeEverythingElseAsItIs)
{
    struct Case
    {
        Text text;
        std::string readable;
    } cases[] = {
        {u"\x02"
         u"200000001RS001\x03\x04",
         "<STX>200000001RS001<ETX><EOT>"},
        {u"one\r\ntwo", "one<CR><LF>two"},
        {u"\t\x7f\x1b", "<0x09><0x7F><0x1B>"},
        {u"caf\u00e9 \uFFFD <keyrequest/>", "caf\xC3\xA9 \xEF\xBF\xBD <keyrequest/>"},
        {u"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.readable);
        EXPECT_EQ(readableText(c.text), c.readable);
    }
    // Bytes, as the stand-ins print them: above 0x7E by code as well.
    EXPECT_EQ(readableBytes("\x02"
                            "a\r\n\xe9"),
              "<STX>a<CR><LF><0xE9>");
}

TEST(ReadableText, FailureLineAddsTheSystemsWordsOnlyWhereTheySayMore)
{
    const std::string bind = "EIdCouldNotBindSocket: " + std::string(messages::couldNotBind);
    struct Case
    {
        std::exception_ptr failure;
        std::string line;
    } cases[] = {
        {std::make_exception_ptr(EIdSocketError(10061, "Connection refused")),
         "EIdSocketError: Socket Error # 10061 Connection refused."},
        {std::make_exception_ptr(EIdSocketError(10061, "CONNECTION REFUSED.")),
         "EIdSocketError: Socket Error # 10061 Connection refused."},
        {std::make_exception_ptr(EIdSocketError(10061)),
         "EIdSocketError: Socket Error # 10061 Connection refused."},
        {std::make_exception_ptr(EIdSocketError(11001, "Name or service not known")),
         "EIdSocketError: Socket Error # 11001 Host not found. (system: Name or service not "
         "known)"},
        {std::make_exception_ptr(EIdSocketError(10061, "No connection could be made because\r\n"
                                                       "the target machine actively refused it")),
         "EIdSocketError: Socket Error # 10061 Connection refused. (system: No connection could "
         "be made because the target machine actively refused it)"},
        {std::make_exception_ptr(EIdSocketError(99, "Cannot assign requested address")),
         "EIdSocketError: Socket Error # 99 (system: Cannot assign requested address)"},
        {std::make_exception_ptr(EIdNotASocket(10038, "Bad file descriptor")),
         "EIdNotASocket: Socket Error # 10038 Socket operation on non-socket. (system: Bad file "
         "descriptor)"},
        {std::make_exception_ptr(
             EIdCouldNotBindSocket(messages::couldNotBind, 10013, "Permission denied")),
         bind + " (system: Socket Error # 10013 Access denied.; Permission denied)"},
        {std::make_exception_ptr(
             EIdCouldNotBindSocket(messages::couldNotBind, 10048, "Address already in use")),
         bind + " (system: Socket Error # 10048 Address already in use.)"},
        {std::make_exception_ptr(EIdCouldNotBindSocket(messages::couldNotBind, 10048, "")),
         bind + " (system: Socket Error # 10048 Address already in use.)"},
        {std::make_exception_ptr(EIdCouldNotBindSocket(messages::couldNotBind, 1, "Not permitted")),
         bind + " (system: Socket Error # 1; Not permitted)"},
        {std::make_exception_ptr(EIdCouldNotBindSocket(messages::couldNotBind)), bind},
        {std::make_exception_ptr(std::runtime_error("out of memory")), "error: out of memory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        try {
            std::rethrow_exception(c.failure);
        } catch (const std::exception& failure) {
            EXPECT_EQ(describeFailure(failure), c.line);
        }
    }
}
