#include "gateway/base/LineEncoding.h"

#include <gtest/gtest.h>

using namespace gateway;

TEST(LineEncoding, EncodesOneQuestionMarkPerUtf16CodeUnit)
{
    struct Case
    {
        Text text;
        std::string bytes;
    } cases[] = {
        {u"", "\r\n"},
        {u"abc\x02\x03\x04", std::string("abc\x02\x03\x04\r\n")},
        {u"caf\u00e9", "caf?\r\n"},
        {u"\U0001F511", "??\r\n"},
        {Text(u"a\0b", 3), std::string("a\0b\r\n", 5)},
        {u"\x7f\x80", "\x7f?\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encodeLine(c.text), c.bytes);
    }
}

TEST(LineEncoding, DecodesOneCharacterPerByte)
{
    EXPECT_EQ(decodeBytes(""), u"");
    EXPECT_EQ(decodeBytes("\xC3\xA9"), u"\uFFFD\uFFFD");
    EXPECT_EQ(decodeBytes("a\r\nb\x7f"), u"a\r\nb\x7f");
    EXPECT_EQ(decodeBytes(std::string_view("\0\xff", 2)), Text(u"\0\uFFFD", 2));
}
