#include "gateway/base/AddressRange.h"
#include "gateway/base/IpAddress.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace gateway;

TEST(IpAddress, LiteralsReadAndWrittenCanonically)
{
    struct Case
    {
        const char* text;
        const char* canonical; // nullptr: not an address
    } cases[] = {
        {"127.0.0.1", "127.0.0.1"},
        {"0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", "255.255.255.255"},
        {"256.0.0.1", nullptr},
        {"1.2.3", nullptr},
        {"1.2.3.4.5", nullptr},
        {"1.2.3.", nullptr},
        {"010.0.0.1", nullptr}, // octal-looking: refused, not guessed
        {"1.2.3.4 ", nullptr},
        {"", nullptr},
        {"*", nullptr},
        {"nowhere", nullptr},
        {"localhost", nullptr},
        {"::", "::"},
        {"::1", "::1"},
        {"1::", "1::"},
        {"2001:DB8:0:0:0:0:0:7", "2001:db8::7"},
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},    // the first of two equal runs
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"}, // a lone zero group stays
        {"0:0:0:0:0:0:0:0", "::"},
        {"::ffff:192.0.2.7", "::ffff:192.0.2.7"},
        {"::FFFF:c000:0207", "::ffff:192.0.2.7"},
        {"64:ff9b::192.0.2.7", "64:ff9b::c000:207"},
        {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
        {"1:2:3:4:5:6:7:8:9", nullptr},
        {"1:2:3:4:5:6:7", nullptr},
        {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
        {"1::2::3", nullptr},
        {":::", nullptr},
        {":1::", nullptr},
        {"1:", nullptr},
        {"12345::", nullptr},
        {"fe80::1%eth0", nullptr},
        {"[::1]", nullptr},
        {"::1.2.3.4:5", nullptr},
        {"1:2:3:4:5:6:7:1.2.3.4", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<IpAddress> address = parseIpAddress(c.text);
        ASSERT_EQ(address.has_value(), c.canonical != nullptr);
        if (address) {
            EXPECT_EQ(addressText(*address), c.canonical);
            EXPECT_EQ(parseIpAddress(addressText(*address)), address);
        }
    }
}

TEST(IpAddress, EndpointShowsAMappedPeerInItsIPv4Form)
{
    EXPECT_EQ(endpointText({*parseIpAddress("192.0.2.7"), 53114}), "192.0.2.7:53114");
    EXPECT_EQ(endpointText({*parseIpAddress("::ffff:192.0.2.7"), 53114}), "192.0.2.7:53114");
    EXPECT_EQ(endpointText({*parseIpAddress("2001:db8::7"), 3000}), "[2001:db8::7]:3000");
}

TEST(AddressRange, ParsedOrRefusedWithTheReason)
{
    struct Case
    {
        const char* text;
        const char* shown;  // the range as written back; nullptr: refused
        const char* reason; // a part of the refusal
    } cases[] = {
        {"10.0.0.0/8", "10.0.0.0/8", nullptr},
        {"192.0.2.7", "192.0.2.7", nullptr},
        {"192.0.2.7/32", "192.0.2.7", nullptr},
        {"0.0.0.0/0", "0.0.0.0/0", nullptr},
        {"2001:db8::/32", "2001:db8::/32", nullptr},
        {"::/0", "::/0", nullptr},
        {"::1/128", "::1", nullptr},
        {"::ffff:10.0.0.0/104", "10.0.0.0/8", nullptr},
        {"::ffff:0:0/96", "0.0.0.0/0", nullptr},
        {"10.0.0.0/33", nullptr, "from 0 to 32"},
        {"2001:db8::/129", nullptr, "from 0 to 128"},
        {"10.0.0.0/", nullptr, "from 0 to 32"},
        {"10.0.0.0/-1", nullptr, "from 0 to 32"},
        {"10.0.0.0/+8", nullptr, "from 0 to 32"},
        {"10.0.0.0/8x", nullptr, "from 0 to 32"},
        {"10.0.0.0/0008", nullptr, "from 0 to 32"},
        {"10.1.2.3/8", nullptr, "the range starts at 10.0.0.0"},
        {"2001:db8::1/64", nullptr, "the range starts at 2001:db8::"},
        {"nowhere/8", nullptr, "'nowhere' is not an IPv4 or IPv6 address"},
        {"", nullptr, "is not an IPv4 or IPv6 address"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseAddressRange(c.text);
        if (c.shown) {
            ASSERT_TRUE(std::holds_alternative<AddressRange>(parsed))
                << std::get<std::string>(parsed);
            EXPECT_EQ(rangeText(std::get<AddressRange>(parsed)), c.shown);
        } else {
            ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
            EXPECT_NE(std::get<std::string>(parsed).find(c.reason), std::string::npos)
                << std::get<std::string>(parsed);
        }
    }
}

TEST(AddressRange, MatchesPeersOfItsFamilyWithinItsPrefix)
{
    struct Case
    {
        const char* range;
        const char* peer;
        bool contained;
    } cases[] = {
        {"127.0.0.1", "127.0.0.1", true},
        {"127.0.0.1", "127.0.0.2", false},
        {"127.0.0.0/8", "127.0.0.2", true},
        {"127.0.0.0/8", "128.0.0.1", false},
        {"10.0.0.0/9", "10.127.255.255", true},
        {"10.0.0.0/9", "10.128.0.0", false},
        {"0.0.0.0/0", "203.0.113.9", true},
        {"0.0.0.0/0", "2001:db8::1", false},
        {"192.0.2.7/32", "192.0.2.7", true},
        {"192.0.2.7/32", "192.0.2.6", false},
        // A dual-stack socket shows an IPv4 peer in its mapped form.
        {"127.0.0.0/8", "::ffff:127.0.0.2", true},
        {"127.0.0.1", "::ffff:127.0.0.2", false},
        {"::ffff:127.0.0.0/104", "127.0.0.9", true},
        {"::ffff:127.0.0.0/104", "::ffff:127.0.0.9", true},
        {"::/0", "2001:db8::1", true},
        {"::/0", "192.0.2.7", false},
        {"::/0", "::ffff:192.0.2.7", false},
        {"::1/128", "::1", true},
        {"::1/128", "::2", false},
        {"2001:db8::/32", "2001:db8:ffff::1", true},
        {"2001:db8::/32", "2001:db9::1", false},
        {"2001:db8::/127", "2001:db8::1", true},
        {"2001:db8::/127", "2001:db8::2", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.range) + " holds " + c.peer);
        const auto range = std::get<AddressRange>(parseAddressRange(c.range));
        EXPECT_EQ(range.contains(*parseIpAddress(c.peer)), c.contained);
    }
}

TEST(PeerFilter, EveryoneWithoutRangesElseAnyOfThem)
{
    const IpAddress desk = *parseIpAddress("192.0.2.7");
    const IpAddress other = *parseIpAddress("198.51.100.1");
    EXPECT_TRUE(PeerFilter().allows(desk));
    const PeerFilter two({std::get<AddressRange>(parseAddressRange("2001:db8::/32")),
                          std::get<AddressRange>(parseAddressRange("192.0.2.0/24"))});
    EXPECT_TRUE(two.allows(desk));
    EXPECT_FALSE(two.allows(other));
}
