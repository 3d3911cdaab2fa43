#include "gateway/base/Errors.h"
#include "gateway/platform/ProcessFacts.h"
#include "gateway/protocol/DateTimeConversion.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace gateway;

namespace {

constexpr int fixedYear = 2026;

std::string conversionMessage(TextView text, int currentYear)
{
    try {
        convertDateTime(text, currentYear);
    } catch (const EConvertError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(DateTimeConversion, ConvertsReadableTexts)
{
    struct Case
    {
        Text text;
        Text field;
    } cases[] = {
        {u"2020-07-16 14:00:00", u"0716201400"},
        {u"2021-6-5 9:30", u"0605210930"},
        {u"2020-07-16", u"0716200000"},
        {u"2020-07-16T14:00", u"0716201400"},
        {u"2020-02-29 10:00", u"0229201000"},
        {u"20-07-16 14:00", u"0716201400"},
        {u"07-16 14:00", u"0716261400"},
        {u"14:00", u"1230991400"},
        // Blanks before every number and separator, text before the first digit.
        {u" 2020 - 07 - 16   14 : 05 : 09", u"0716201405"},
        {u"valid from 2020-07-16 14:00", u"0716201400"},
        // Five digits with a leading zero still make a four-digit year.
        {u"02020-07-16 14:00", u"0716201400"},
        {u"2020-07-16-14:00", u"0716201400"},
        {u"2020-07-16 0009:30", u"0716200930"},
        // Seconds and anything after the time are dropped, never rounded into the minute.
        {u"2020-07-16 14:00:59.999", u"0716201400"},
        {u"2020-07-16 14:00 local time", u"0716201400"},
        // A digit that closes the text is no hour.
        {u"2020-07-16 5", u"0716200000"},
        {u"2020-07-16 at 9", u"0716200000"},
        {u"2020-07-16 15", u"0716201500"},
        {u"2020-07-16 Z", u"0716200000"},
        // Markers in any case, before or after the time.
        {u"2020-07-16 2:00 PM", u"0716201400"},
        {u"2020-07-16 2:00pm", u"0716201400"},
        {u"2020-07-16 Pm 2:00", u"0716201400"},
        {u"2020-07-16 12:30 AM", u"0716200030"},
        {u"2020-07-16 12:30 PM", u"0716201230"},
        {u"2020-07-16 11:59:59 am", u"0716201159"},
        {u"2020-07-16 SPAM 2:00", u"0716200200"},
        {u"2 PM", u"1230991400"},
        {u"am 12:15  ", u"1230990015"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.text));
        EXPECT_EQ(convertDateTime(c.text, fixedYear), c.field);
    }
}

TEST(DateTimeConversion, RejectsUnreadableTexts)
{
    const Text texts[] = {
        u"",
        u"none",
        u"07/16/2020 14:00",
        u"2020-02-30 10:00",
        u"2021-02-29",
        u"2020-13-01",
        u"2020-00-10",
        u"2020-07-00",
        u"0000-01-01",
        u"20201-07-16 14:00",
        u"2020-07-16 24:00",
        u"2020-07-16 10:60",
        u"2020-07-16 10:00:60",
        u"2020-07-16 2400",
        u"2020-07-16 14:",
        u"2020-07-16 0:30 AM",
        u"2020-07-16 13:00 PM",
        u"02-29 10:00",
        // A time alone may be followed by blanks only.
        u"14:00 x",
        u"14:00:00.5",
        u"T14:00",
        u"0:30 am",
    };
    for (const auto& text : texts) {
        SCOPED_TRACE(toUtf8(text));
        EXPECT_EQ(readDateTime(text, fixedYear), std::nullopt);
        EXPECT_THROW(convertDateTime(text, fixedYear), EConvertError);
    }
}

TEST(DateTimeConversion, ReadsDatePartsAndPlacesShortYears)
{
    struct Case
    {
        Text text;
        int currentYear;
        DateTime value;
    } cases[] = {
        {u"21-01-02", 2021, {2021, 1, 2, 0, 0, 0}},
        {u"99-01-02", 2021, {2099, 1, 2, 0, 0, 0}},
        {u"5-01-02", 2026, {2005, 1, 2, 0, 0, 0}},
        {u"05-01-02", 1999, {1905, 1, 2, 0, 0, 0}},
        // Leading zeros count as digits: three or four digits are taken as written.
        {u"005-01-02", 2026, {5, 1, 2, 0, 0, 0}},
        {u"0020-01-02", 2026, {20, 1, 2, 0, 0, 0}},
        {u"02-29", 2024, {2024, 2, 29, 0, 0, 0}},
        {u"9999-12-31 23:59:59", 2026, {9999, 12, 31, 23, 59, 59}},
        {u"14:30:15", 2026, {1899, 12, 30, 14, 30, 15}},
        {u"12:00 AM", 2026, {1899, 12, 30, 0, 0, 0}},
        {u"12:00 PM", 2026, {1899, 12, 30, 12, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.text));
        EXPECT_EQ(readDateTime(c.text, c.currentYear), c.value);
    }
}

TEST(DateTimeConversion, WritesMonthDayShortYearHourMinute)
{
    struct Case
    {
        DateTime value;
        Text field;
    } cases[] = {
        {{2020, 7, 16, 14, 0, 59}, u"0716201400"},
        {{2000, 1, 2, 3, 4, 5}, u"0102000304"},
        {{1899, 12, 30, 23, 59, 0}, u"1230992359"},
        {{5, 1, 1, 0, 0, 0}, u"0101050000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(writeDateField(c.value), c.field);
    }
}

TEST(DateTimeConversion, ErrorQuotesTheTextAsReceived)
{
    struct Case
    {
        Text text;
        std::string message;
    } cases[] = {
        {u"none", "'none' is not a valid date and time"},
        {u"", "'' is not a valid date and time"},
        {u" 2020-02-30 ", "' 2020-02-30 ' is not a valid date and time"},
        {u"caf\u00e9 \U0001F511", "'caf\xC3\xA9 \xF0\x9F\x94\x91' is not a valid date and time"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(conversionMessage(c.text, fixedYear), c.message);
    }
}

// A date without a year is in the current year: the clock's year, give or take the hours the
// local time zone differs from UTC around New Year.
TEST(DateTimeConversion, DateWithoutAYearIsInTheCurrentYear)
{
    using namespace std::chrono;
    const int utcYear = int(year_month_day(floor<days>(system_clock::now())).year());
    const Text field = convertDateTime(u"07-16 14:00", localYearNow());
    ASSERT_EQ(field.size(), 10u);
    EXPECT_EQ(field.substr(0, 4), u"0716");
    EXPECT_EQ(field.substr(6), u"1400");
    const int shortYear = (field[4] - u'0') * 10 + (field[5] - u'0');
    EXPECT_TRUE(shortYear == (utcYear - 1) % 100 || shortYear == utcYear % 100 ||
                shortYear == (utcYear + 1) % 100)
        << toUtf8(field) << " in " << utcYear;
    // A date with its year keeps it.
    EXPECT_EQ(convertDateTime(u"2020-07-16 14:00:00", localYearNow()), u"0716201400");
}
