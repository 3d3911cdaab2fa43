#include "gateway/base/EndpointText.h"

#include <gtest/gtest.h>

#include <string>

using namespace gateway;

TEST(EndpointText, AddressAndPortOrWhyNot)
{
    struct Case
    {
        const char* text;
        const char* endpoint; // as endpointText gives it; nullptr: refused
        const char* why;      // part of the refusal
    } cases[] = {
        {"127.0.0.1:9464", "127.0.0.1:9464", nullptr},
        {"0.0.0.0:9464", "0.0.0.0:9464", nullptr},
        {"[::1]:9464", "[::1]:9464", nullptr},
        {"[2001:DB8::7]:1", "[2001:db8::7]:1", nullptr},
        {"[::ffff:10.1.2.3]:9464", "10.1.2.3:9464", nullptr}, // a mapped address is its IPv4 one
        {"127.0.0.1:65535", "127.0.0.1:65535", nullptr},
        {"127.0.0.1", nullptr, "has no port"},
        {"9464", nullptr, "has no port"},
        {"::1:9464", nullptr, "goes in brackets"},
        {"[::1]9464", nullptr, "is not [IPv6 address]:PORT"},
        {"[::1:9464", nullptr, "is not [IPv6 address]:PORT"},
        {"[::1]:", nullptr, "must be a number from 1 to 65535"},
        {"127.0.0.1:0", nullptr, "must be a number from 1 to 65535"},
        {"127.0.0.1:65536", nullptr, "must be a number from 1 to 65535"},
        {"127.0.0.1:+80", nullptr, "must be a number from 1 to 65535"},
        {"127.0.0.1:80 ", nullptr, "must be a number from 1 to 65535"},
        {"localhost:9464", nullptr, "'localhost' in 'localhost:9464' is not an IPv4 or IPv6"},
        {"*:9464", nullptr, "is not an IPv4 or IPv6 address"},
        {":9464", nullptr, "is not an IPv4 or IPv6 address"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseEndpoint(c.text);
        if (c.endpoint) {
            ASSERT_TRUE(std::holds_alternative<Endpoint>(parsed)) << std::get<std::string>(parsed);
            EXPECT_EQ(endpointText(std::get<Endpoint>(parsed)), c.endpoint);
        } else {
            ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
            EXPECT_NE(std::get<std::string>(parsed).find(c.why), std::string::npos)
                << std::get<std::string>(parsed);
        }
    }
}
