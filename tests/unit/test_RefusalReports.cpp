// Refused connections are reported once a minute for each address, and every refusal ends up
// in a report: the held-back count with the address's next report or once its minute is over.

#include "gateway/link/RefusalReports.h"

#include <gtest/gtest.h>

using namespace gateway;
using namespace std::chrono_literals;

namespace {

const IpAddress first = IpAddress::ipv4(192, 0, 2, 7);
const IpAddress second = IpAddress::ipv4(198, 51, 100, 1);
const RefusalReports::Clock::time_point start{};

} // namespace

TEST(RefusalReports, EachAddressOnItsOwnMinute)
{
    RefusalReports reports(1min);
    EXPECT_EQ(reports.admit(first, start), 0);
    EXPECT_EQ(reports.admit(first, start + 1s), std::nullopt);
    EXPECT_EQ(reports.admit(second, start + 2s), 0) << "another address is not held back";
    EXPECT_EQ(reports.admit(first, start + 3s), std::nullopt);
    EXPECT_EQ(reports.admit(first, start + 60s), 2) << "a minute on: the two held back";
    EXPECT_EQ(reports.admit(second, start + 62s), 0);
}

TEST(RefusalReports, HeldBackCountsComeDueWhenTheAddressStops)
{
    RefusalReports reports(1min);
    reports.admit(first, start);
    reports.admit(first, start + 1s);
    reports.admit(first, start + 2s);
    reports.admit(second, start + 10s);
    EXPECT_TRUE(reports.flushDue(start + 59s).empty());
    const auto due = reports.flushDue(start + 60s);
    ASSERT_EQ(due.size(), 1u) << "the second address held nothing back";
    EXPECT_EQ(due[0].address, first);
    EXPECT_EQ(due[0].count, 2);
    EXPECT_TRUE(reports.flushDue(start + 120s).empty());
    EXPECT_EQ(reports.admit(first, start + 121s), 0) << "forgotten once flushed: reported at once";
}

TEST(RefusalReports, AddressesBeyondTheBoundShareOneCount)
{
    RefusalReports reports(1min, 2);
    EXPECT_EQ(reports.admit(first, start), 0);
    EXPECT_EQ(reports.admit(second, start), 0);
    for (std::uint8_t last = 1; last <= 5; ++last) {
        EXPECT_EQ(reports.admit(IpAddress::ipv4(203, 0, 113, last), start + 1s), std::nullopt);
    }
    const auto due = reports.flushDue(start + 61s);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_FALSE(due[0].address.has_value());
    EXPECT_EQ(due[0].count, 5);
}
