#include "gateway/base/Errors.h"
#include "gateway/protocol/EncoderLine.h"
#include "gateway/protocol/ResultCode.h"
#include "tools/support/WorkedExample.h"

#include <gtest/gtest.h>

using namespace gateway;

namespace {

constexpr int fixedYear = 2026;

namespace example = tools::workedExample;

// The worked example's line: room "1110", folio "123456", one key of type "0", valid to
// 2020-07-16 14:00.
const Text workedExampleLine(example::line.text());

std::string derivationMessage(const KeyRequestValues& values)
{
    try {
        deriveFields(values, fixedYear);
    } catch (const EConvertError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(EncoderLine, WorkedExampleIsByteExact)
{
    ASSERT_EQ(workedExampleLine.size(), 87u);
    const KeyRequestValues values = example::values();
    EXPECT_EQ(assembleLine(deriveFields(values, fixedYear), values.folio), workedExampleLine);
}

TEST(EncoderLine, TestCommandIsTheWorkedExample)
{
    const TestCommand command = testCommand();
    EXPECT_EQ(command.line, workedExampleLine);
    EXPECT_EQ(command.summary, example::summary.text());
}

TEST(EncoderLine, KeyTypeCodeIsExactMatchOnZero)
{
    struct Case
    {
        Text keyType;
        Text code;
    } cases[] = {
        {u"0", u"001"},  {u"1", u"003"},  {u"00", u"003"},
        {u" 0", u"003"}, {u"0 ", u"003"}, {u"", u"003"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.keyType));
        EXPECT_EQ(keyTypeCode(c.keyType), c.code);
    }
}

TEST(EncoderLine, RoomFieldPadsToFifteenCodeUnitsAndNeverCuts)
{
    struct Case
    {
        Text room;
        Text field;
    } cases[] = {
        {u"", Text(15, u' ')},
        {u"1110", u"1110           "},
        {u" 2500 ", u" 2500          "},
        {u"123456789012345", u"123456789012345"},
        {u"00000000000000002500", u"00000000000000002500"},
        // A character outside the basic plane is two code units wide.
        {u"\U0001F511", u"\U0001F511             "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.room));
        EXPECT_EQ(roomField(c.room), c.field);
    }
}

TEST(EncoderLine, EncoderCodeFollowsTheRoomNumber)
{
    struct Case
    {
        Text room;
        Text code;
    } cases[] = {
        {u"1999", u"76"},       {u"2000", u"17"},
        {u"-5", u"76"},         {u"$7D0", u"17"},
        {u"$7CF", u"76"},       {u" 2500 ", u"17"},
        {u"$FFFFFFFF", u"76"},  {u"-2147483648", u"76"},
        {u"2147483647", u"17"}, {u"00000000000000002500", u"17"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.room));
        KeyRequestValues values = example::values();
        values.room = c.room;
        const EncoderFields fields = deriveFields(values, fixedYear);
        EXPECT_EQ(fields.encoderCode, c.code);
        EXPECT_EQ(fields.roomField, roomField(c.room));
    }
}

TEST(EncoderLine, KeyCountFieldIsZeroAndTheTextAsReceived)
{
    EXPECT_EQ(keyCountField(u"1"), u"01");
    EXPECT_EQ(keyCountField(u"12"), u"012");
    EXPECT_EQ(keyCountField(u""), u"0");
    EXPECT_EQ(keyCountField(u" x"), u"0 x");
}

TEST(EncoderLine, LongRoomAndKeyCountShiftLaterFields)
{
    struct Case
    {
        Text room;
        Text keyCount;
        int shift; // of every field after the room, from its place in the worked example
        Text encoderCode;
    } cases[] = {
        {u"00000000000000002500", u"1", 5, u"17"},
        {u"1110", u"10", 1, u"76"},
        {u"1110", u"", -1, u"76"},
        {u"0000000000001110", u"123", 3, u"76"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.room) + " / " + toUtf8(c.keyCount));
        KeyRequestValues values = example::values();
        values.room = c.room;
        values.keyCount = c.keyCount;
        const Text line = assembleLine(deriveFields(values, fixedYear), values.folio);
        const std::size_t roomShift = roomField(c.room).size() - 15;
        const auto datesAt = static_cast<std::size_t>(42 + c.shift);

        EXPECT_EQ(line.size(), datesAt + 45);
        EXPECT_EQ(line.substr(20, roomField(c.room).size()), roomField(c.room));
        EXPECT_EQ(line.substr(35 + roomShift, 5), u"1" + c.encoderCode + u"FF");
        EXPECT_EQ(line.substr(40 + roomShift, c.keyCount.size() + 1), u"0" + c.keyCount);
        EXPECT_EQ(line.substr(datesAt), u"07162014000716201400"
                                        u"0000000000000*209123456\x03\x04");
    }
}

TEST(EncoderLine, AssemblesFieldsInTheirPlaces)
{
    const Text line = assembleLine(u"003", u"R", u"17", u"0", u"1111111111", u"2222222222", u"");
    EXPECT_EQ(line, Text(u"\x02") + u"200000001003" + u"9999   " + u"R" + u"1" + u"17" + u"FF" +
                        u"0" + u"1111111111" + u"2222222222" + u"0000000000000*209" + u"\x03\x04");
}

TEST(EncoderLine, FromDateIsCheckedButOnlyTheToDateIsSent)
{
    KeyRequestValues values = example::values();
    values.fromDateTime = u"2020-07-15 10:30";
    values.toDateTime = u"2020-07-18 11:00";
    const EncoderFields fields = deriveFields(values, fixedYear);

    EXPECT_EQ(fields.fromDateField, u"0715201030");
    EXPECT_EQ(fields.toDateField, u"0718201100");
    const Text line = assembleLine(fields, values.folio);
    EXPECT_EQ(line.substr(42, 20), u"07182011000718201100");
    EXPECT_EQ(line.find(u"0715201030"), Text::npos);
    EXPECT_EQ(summaryLine(fields.roomField, fields.fromDateField, fields.toDateField),
              u"Room = [1110           ] From = [0715201030] To = [0718201100]");
}

TEST(EncoderLine, MissingValuesGiveEmptyFields)
{
    KeyRequestValues values = example::values();
    values.folio.clear();
    values.keyCount.clear();
    values.keyType.clear();
    const EncoderFields fields = deriveFields(values, fixedYear);

    EXPECT_EQ(fields.keyTypeCode, u"003");
    EXPECT_EQ(fields.keyCountField, u"0");
    const Text line = assembleLine(fields, values.folio);
    EXPECT_EQ(line.substr(line.size() - 19), u"0000000000000*209\x03\x04");
}

TEST(EncoderLine, FirstFailingDerivationWins)
{
    struct Case
    {
        const char* what;
        Text room;
        Text from;
        Text to;
        std::string message;
    } cases[] = {
        {"all bad", u"", u"none", u"2020-02-30", "'none' is not a valid date and time"},
        {"to and room bad", u"", u"2020-07-16", u"2020-02-30",
         "'2020-02-30' is not a valid date and time"},
        {"room bad", u"101A", u"2020-07-16", u"2020-07-16", "'101A' is not a valid integer value"},
        {"room missing", u"", u"2020-07-16", u"2020-07-16", "'' is not a valid integer value"},
        {"room blank", u"   ", u"2020-07-16", u"2020-07-16", "'' is not a valid integer value"},
        {"from missing", u"1110", u"", u"2020-07-16", "'' is not a valid date and time"},
        {"from unreadable", u"1110", u"none", u"2020-07-16", "'none' is not a valid date and time"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KeyRequestValues values = example::values();
        values.room = c.room;
        values.fromDateTime = c.from;
        values.toDateTime = c.to;
        EXPECT_EQ(derivationMessage(values), c.message);
    }
}

// A control character would end or split the command line on the lock system's side: the
// request fails like a conversion error, in derivation order, naming the value readably.
TEST(EncoderLine, ControlCharactersInLineValuesFail)
{
    struct Case
    {
        const char* what;
        Text room;
        Text folio;
        Text keyCount;
        std::string message; // empty: derives
    } cases[] = {
        {"CR LF in the folio", u"1110", u"1\r\nXXXX", u"1",
         "'1<CR><LF>XXXX' is not a valid folio: control characters cannot go into the "
         "encoder command line"},
        {"ETX EOT in the room", u"11\x03\x04", u"123456", u"1",
         "'11<ETX><EOT>' is not a valid room: control characters cannot go into the encoder "
         "command line"},
        {"DEL in the key count", u"1110", u"123456", u"1\x7f",
         "'1<0x7F>' is not a valid key count: control characters cannot go into the encoder "
         "command line"},
        {"a tab around the room", u"\t1110", u"123456", u"1",
         "'<0x09>1110' is not a valid room: control characters cannot go into the encoder "
         "command line"},
        {"room before folio", u"\n", u"\n", u"1",
         "'<LF>' is not a valid room: control characters cannot go into the encoder command "
         "line"},
        {"blanks stay", u" 1110 ", u"12 34", u" 1", ""},
        {"long values stay whole", u"00000000000000002500", u"123456", u"10", ""},
        {"characters above ASCII are no control characters", u"1110", u"caf\u00e9\u0080", u"1", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KeyRequestValues values = example::values();
        values.room = c.room;
        values.folio = c.folio;
        values.keyCount = c.keyCount;
        EXPECT_EQ(derivationMessage(values), c.message.empty() ? "no error" : c.message);
    }
}

TEST(ResultCode, TakesCharactersThirteenToFifteen)
{
    struct Case
    {
        Text reply;
        Text code;
        bool success;
    } cases[] = {
        {u"", u"", false},
        {u"123456789012", u"", false},
        {u"1234567890120", u"0", false},
        {u"12345678901200", u"00", false},
        {u"123456789012001", u"001", true},
        {u"\x02"
         u"23456789012002 and more\x03",
         u"002", true},
        {u"123456789012003", u"003", false},
        {u"001001001001 001", u" 00", false},
        {u"123456789012\u00e9\u00e9\u00e9", u"\u00e9\u00e9\u00e9", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.reply));
        const Text code = resultCode(c.reply);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(isSuccessCode(code), c.success);
    }
}

TEST(ResultCode, OnlyExactCodesSucceed)
{
    for (const Text& code : {Text(u"001"), Text(u"002")}) {
        EXPECT_TRUE(isSuccessCode(code));
    }
    for (const Text& code : {Text(u""), Text(u"01"), Text(u"0010"), Text(u" 001"), Text(u"000"),
                             Text(u"003"), Text(u"1")}) {
        SCOPED_TRACE(toUtf8(code));
        EXPECT_FALSE(isSuccessCode(code));
    }
}
