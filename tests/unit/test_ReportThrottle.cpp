// A lasting condition is reported at once, then at most once an interval, with the count of
// the occurrences held back in between.

#include "gateway/base/ReportThrottle.h"

#include <gtest/gtest.h>

using namespace gateway;
using namespace std::chrono_literals;

TEST(ReportThrottle, ReportsTheFirstThenOnceAnIntervalWithTheCountHeldBack)
{
    const ReportThrottle::Clock::time_point start{};
    struct Step
    {
        std::chrono::milliseconds at;
        std::optional<int> admitted;
    } steps[] = {
        {0ms, 0},             // the first: at once
        {10ms, std::nullopt}, // within the minute
        {59'999ms, std::nullopt},
        {60'000ms, 2}, // a minute after the last report: the two held back
        {60'001ms, std::nullopt},
        {180'000ms, 1}, // a long pause: reported at once
    };
    ReportThrottle throttle(1min);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.at.count());
        EXPECT_EQ(throttle.admit(start + step.at), step.admitted);
    }
    throttle.reset();
    EXPECT_EQ(throttle.admit(start + 180'001ms), 0) << "after a reset the next one goes at once";
}
