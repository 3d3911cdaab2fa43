#include "gateway/base/Errors.h"
#include "gateway/protocol/RoomNumber.h"

#include <gtest/gtest.h>

#include <limits>

using namespace gateway;

namespace {
constexpr std::int32_t int32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t int32Max = std::numeric_limits<std::int32_t>::max();
} // namespace

TEST(RoomNumber, ReadsDecimalAndHexadecimal)
{
    struct Case
    {
        Text text;
        std::int32_t value;
    } cases[] = {
        {u"1110", 1110},
        {u"0", 0},
        {u"-0", 0},
        {u"+7", 7},
        {u"-5", -5},
        {u" 2500 ", 2500},
        {u"\t\r\n2500\x01\x1f", 2500},
        {u"00000000000000002500", 2500},
        {u"2147483647", int32Max},
        {u"-2147483648", int32Min},
        {u"+00002147483647", int32Max},
        {u"$7D0", 2000},
        {u"$7d0", 2000},
        {u"x7D0", 2000},
        {u"X7d0", 2000},
        {u"0x7D0", 2000},
        {u"0XaBc", 0xABC},
        {u"$FFFFFFFF", -1},
        {u"$80000000", int32Min},
        {u"$7FFFFFFF", int32Max},
        {u"$0000000000FF", 255},
        {u"-$10", -16},
        {u"+0x10", 16},
        {u"-$FFFFFFFF", 1},
        {u"-$80000000", int32Min},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.text));
        EXPECT_EQ(readRoomNumber(c.text), c.value);
    }
}

TEST(RoomNumber, RejectsAnythingElseQuotingTheTrimmedText)
{
    struct Case
    {
        Text text;
        std::string quoted;
    } cases[] = {
        {u"", "''"},
        {u" \t ", "''"},
        {u"101A", "'101A'"},
        {u"2 500", "'2 500'"},
        {u"  2 500\r\n", "'2 500'"},
        {u"+", "'+'"},
        {u"-", "'-'"},
        {u"$", "'$'"},
        {u"x", "'x'"},
        {u"0x", "'0x'"},
        {u"-$", "'-$'"},
        {u"--5", "'--5'"},
        {u"+-5", "'+-5'"},
        {u"$-5", "'$-5'"},
        {u"- 5", "'- 5'"},
        {u"1.0", "'1.0'"},
        {u"1e3", "'1e3'"},
        {u"$0x10", "'$0x10'"},
        {u"0x1G", "'0x1G'"},
        {u"2147483648", "'2147483648'"},
        {u"-2147483649", "'-2147483649'"},
        {u"99999999999999999999", "'99999999999999999999'"},
        {u"$100000000", "'$100000000'"},
        {u"0x1FFFFFFFF", "'0x1FFFFFFFF'"},
        // Characters above code 32 are not trimmed, and only ASCII digits count.
        {u"\u00a012", "'\xC2\xA0"
                      "12'"},
        {u"\u0663", "'\xD9\xA3'"},
        {u"\uFF11\uFF12", "'\xEF\xBC\x91\xEF\xBC\x92'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.quoted);
        try {
            readRoomNumber(c.text);
            ADD_FAILURE() << "no error";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), c.quoted + " is not a valid integer value");
        }
    }
}
