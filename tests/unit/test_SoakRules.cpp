#include "tools/support/SoakAnswers.h"
#include "tools/support/SoakGrowth.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <keyanswer res-code=";
const std::string success = head + "\"0\" text=\"\"/>";
std::string failure(const std::string& code)
{
    return head + "\"1\" text=\"" + code + "\"/>";
}

} // namespace

// A soak run counts an answer as wrong only when it contradicts the code the stand-in gives
// the room; the failure answer with an empty code is a request no reply decided.
TEST(SoakRules, AnswerAgainstTheRoomsCode)
{
    using tools::SoakAnswer;
    struct Case
    {
        const char* what;
        const char* room;
        std::string answer;
        SoakAnswer kind;
    } cases[] = {
        {"success for a room of code 001", "4001", success, SoakAnswer::Made},
        {"success for a room of code 002", "7002", success, SoakAnswer::Made},
        {"the room's own failure code", "4003", failure("003"), SoakAnswer::NotMade},
        {"the room's own failure code 000", "5000", failure("000"), SoakAnswer::NotMade},
        {"no code: no reply decided it", "4003", failure(""), SoakAnswer::EmptyCode},
        {"no code for a success room too", "4001", failure(""), SoakAnswer::EmptyCode},
        {"success for a room whose code is a failure", "4003", success, SoakAnswer::Wrong},
        {"failure for a room whose code is a success", "4001", failure("001"), SoakAnswer::Wrong},
        {"another room's failure code", "4003", failure("004"), SoakAnswer::Wrong},
        {"the code of a room sharing the last digits is its own", "9003", failure("003"),
         SoakAnswer::NotMade},
        {"an answer with its line end still on", "4003", failure("003") + "\r\n",
         SoakAnswer::Wrong},
        {"nothing", "4003", "", SoakAnswer::Wrong},
        {"not an answer", "4003", "<keyanswer/>", SoakAnswer::Wrong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(tools::classifySoakAnswer(c.room, c.answer), c.kind);
    }
}

// Growth is measured from the first sample past both warm-up bounds to the last one, per
// 10,000 requests sent in between.
TEST(SoakRules, GrowthAfterWarmUp)
{
    using tools::SoakSample;
    struct Case
    {
        const char* what;
        std::vector<SoakSample> samples;
        double warmUpSeconds;
        long long warmUpRequests;
        bool measured;
        long warmRss;
        long endRss;
        std::optional<double> perTenThousand;
    } cases[] = {
        {"growth after the first minute",
         {{30, 5000, 8000}, {60, 10000, 9000}, {120, 30000, 9200}},
         60,
         0,
         true,
         9000,
         9200,
         100},
        {"the request bound comes later",
         {{60, 5000, 8000}, {90, 10000, 9000}, {120, 30000, 9100}},
         60,
         10000,
         true,
         9000,
         9100,
         50},
        {"the time bound comes later",
         {{30, 20000, 8000}, {60, 40000, 9000}, {90, 60000, 8800}},
         60,
         10000,
         true,
         9000,
         8800,
         -100},
        {"flat",
         {{0, 0, 7000}, {60, 10000, 7000}, {600, 900000, 7000}},
         60,
         10000,
         true,
         7000,
         7000,
         0},
        {"no sample after the warm-up",
         {{10, 100, 7000}, {20, 200, 7100}},
         60,
         0,
         false,
         0,
         0,
         std::nullopt},
        {"no samples", {}, 0, 0, false, 0, 0, std::nullopt},
        {"no request after the warm-up: no figure",
         {{60, 10000, 7000}, {90, 10000, 7500}},
         60,
         10000,
         true,
         7000,
         7500,
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto growth = tools::growthAfterWarmUp(c.samples, c.warmUpSeconds, c.warmUpRequests);
        ASSERT_EQ(growth.has_value(), c.measured);
        if (!growth) {
            continue;
        }
        EXPECT_EQ(growth->warm.rssKiB, c.warmRss);
        EXPECT_EQ(growth->end.rssKiB, c.endRss);
        ASSERT_EQ(growth->kiBPer10000Requests.has_value(), c.perTenThousand.has_value());
        if (c.perTenThousand) {
            EXPECT_DOUBLE_EQ(*growth->kiBPer10000Requests, *c.perTenThousand);
        }
    }
}
