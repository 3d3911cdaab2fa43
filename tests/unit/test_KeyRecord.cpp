// The key record's line: stamps, JSON text and the record's fields, byte for byte.

#include "gateway/KeyRecord.h"
#include "gateway/base/JsonText.h"
#include "gateway/base/Timestamp.h"

#include <gtest/gtest.h>

using namespace gateway;
using namespace std::chrono_literals;

TEST(Timestamp, IsoWithMillisecondsAndTheOffset)
{
    struct Case
    {
        LocalTime time;
        const char* stamp;
    } cases[] = {
        {{2026, 12, 10, 19, 45, 2, 123, 60}, "2026-12-10T19:45:02.123+01:00"},
        {{2026, 7, 1, 2, 14, 0, 5, 120}, "2026-07-01T02:14:00.005+02:00"},
        {{2026, 1, 2, 3, 4, 5, 0, 0}, "2026-01-02T03:04:05.000+00:00"},
        {{2026, 3, 8, 23, 59, 59, 999, -300}, "2026-03-08T23:59:59.999-05:00"},
        {{2026, 3, 8, 12, 0, 0, 0, -570}, "2026-03-08T12:00:00.000-09:30"},
        {{2026, 3, 8, 12, 0, 0, 0, 345}, "2026-03-08T12:00:00.000+05:45"},
        {{999, 1, 1, 0, 0, 0, 0, 0}, "0999-01-01T00:00:00.000+00:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isoTimestamp(c.time), c.stamp);
    }
}

TEST(JsonText, EscapesWhatWouldBreakTheLineOrTheString)
{
    struct Case
    {
        std::string text;
        const char* json;
    } cases[] = {
        {"", R"("")"},
        {"1110", R"("1110")"},
        {R"(a "quoted" \ back)", R"("a \"quoted\" \\ back")"},
        {"two\r\nlines\ttab", R"("two\r\nlines\ttab")"},
        {std::string("\x02\x03\x04\0\x1f\x7f", 6), R"("\u0002\u0003\u0004\u0000\u001f\u007f")"},
        {"\b\f", R"("\b\f")"},
        {"Zi\xc3\xa9mer \xe2\x82\xac \xf0\x9f\x94\x91",
         "\"Zi\xc3\xa9mer \xe2\x82\xac \xf0\x9f\x94\x91\""},
        {"</script>", R"("</script>")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(jsonString(c.text), c.json);
    }
}

TEST(KeyRecord, OneLineWithEveryKeyNullWhereThereIsNoValue)
{
    KeyRecord made;
    made.took = 290ms;
    made.frontDesk = Endpoint{*parseIpAddress("::ffff:192.0.2.7"), 53114};
    made.request = KeyRequestValues{
        u"1203", u"F\"77", u"1", u"2", u"0", u"2026-12-10 14:00", u"2026-12-11 11:00"};
    made.firstLineDate = u"1211261100";
    made.secondLineDate = u"1211261100";
    made.lineSent = true;
    made.code = u"001";
    made.answer = KeyRecord::Answer::Made;
    EXPECT_EQ(keyRecordJson(made, "2026-12-10T02:14:05.120+01:00", "2026-12-10T02:14:05.410+01:00"),
              R"({"received":"2026-12-10T02:14:05.120+01:00",)"
              R"("answered":"2026-12-10T02:14:05.410+01:00","ms":290,)"
              R"("front_desk":"192.0.2.7","front_desk_port":53114,)"
              R"("room":"1203","folio":"F\"77","key_count":"2","key_type":"0",)"
              R"("valid_from":"2026-12-10 14:00","valid_to":"2026-12-11 11:00",)"
              R"("line_dates":["1211261100","1211261100"],"line_sent":true,"code":"001",)"
              R"("answer":"made","reason":null,"failure":null})");

    KeyRecord unreadable;
    unreadable.frontDesk = Endpoint{*parseIpAddress("2001:db8::7"), 3001};
    unreadable.reason = "request not readable";
    unreadable.failure = "EDOMParseError: Start tag expected, '<' not found";
    EXPECT_EQ(keyRecordJson(unreadable, "a", "b"),
              R"({"received":"a","answered":"b","ms":0,)"
              R"("front_desk":"2001:db8::7","front_desk_port":3001,)"
              R"("room":null,"folio":null,"key_count":null,"key_type":null,)"
              R"("valid_from":null,"valid_to":null,"line_dates":null,"line_sent":false,)"
              R"("code":null,"answer":"none","reason":"request not readable",)"
              R"("failure":"EDOMParseError: Start tag expected, '<' not found"})");
}
