#include "gateway/ReadableText.h"

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
