// The monitoring endpoint from a client's side: what each request is answered with, and the
// requests closed unanswered (too large, too slow, from an address not allowed) without holding
// up the others.

#include "gateway/base/AddressRange.h"
#include "monitor/MonitorEndpoint.h"
#include "support/TestClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

using namespace std::chrono_literals;

namespace {

constexpr const char* pageBody = "velmor_snd_link_up 1\n";

class MonitorEndpointFixture : public ::testing::Test
{
protected:
    void start(monitor::MonitorOptions options = {})
    {
        options.listen = {{gateway::IpAddress::ipv4(127, 0, 0, 1), 0}};
        m_endpoint.emplace(
            options,
            monitor::HttpRoutes{{"/metrics",
                                 [this] {
                                     ++asked;
                                     return monitor::HttpPage{200, "text/plain", pageBody};
                                 }}},
            [](const std::string&) {});
        m_endpoint->start();
    }
    std::uint16_t port() const { return m_endpoint->ports().at(0); }

    // The whole answer to bytes sent on a connection of their own.
    std::string exchange(const std::string& request)
    {
        TestClient client(port());
        client.send(request);
        return client.readToClose().value_or("(not closed)");
    }

    std::atomic<int> asked{0};

private:
    std::optional<monitor::MonitorEndpoint> m_endpoint;
};

std::string statusLine(const std::string& response)
{
    return response.substr(0, response.find("\r\n"));
}

std::string bodyOf(const std::string& response)
{
    const std::size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? "(no head)" : response.substr(end + 4);
}

} // namespace

TEST_F(MonitorEndpointFixture, AnswersGetAndHeadOfItsPathsAndRefusesTheRest)
{
    start();
    struct Case
    {
        std::string request;
        std::string status;
        std::string body;       // exactly; empty for none
        std::string headerPart; // a header the answer must hold, if any
    } cases[] = {
        {"GET /metrics HTTP/1.1\r\nHost: gw\r\n\r\n", "HTTP/1.1 200 OK", pageBody,
         "Content-Length: 21"},
        // A scraper of old is still served; bare LF line ends are HTTP no longer.
        {"GET /metrics HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK", pageBody, ""},
        {"GET /metrics HTTP/1.1\n\n", "HTTP/1.1 400 Bad Request", "", ""},
        {"GET /metrics?fresh=1 HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", pageBody, ""},
        {"HEAD /metrics HTTP/1.1\r\nHost: gw\r\n\r\n", "HTTP/1.1 200 OK", "", "Content-Length: 21"},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405 Method Not Allowed",
         "only GET and HEAD are served here\n", "Allow: GET, HEAD"},
        // Its body unread, yet the answer is not lost to a reset for it.
        {"POST /metrics HTTP/1.1\r\nContent-Length: 3000\r\n\r\n" + std::string(3000, 'x'),
         "HTTP/1.1 405 Method Not Allowed", "only GET and HEAD are served here\n",
         "Allow: GET, HEAD"},
        {"DELETE /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 405 Method Not Allowed",
         "only GET and HEAD are served here\n", "Allow: GET, HEAD"},
        {"GET /other HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found",
         "not found: /health and /metrics are served here\n", ""},
        {"GET /metrics/ HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found",
         "not found: /health and /metrics are served here\n", ""},
        {"nonsense\r\n\r\n", "HTTP/1.1 400 Bad Request", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        const std::string response = exchange(c.request);
        EXPECT_EQ(statusLine(response), c.status) << response;
        EXPECT_EQ(bodyOf(response), c.body) << response;
        EXPECT_NE(response.find(c.headerPart), std::string::npos) << response;
        EXPECT_NE(response.find("Connection: close\r\n"), std::string::npos) << response;
    }
}

// Closed unanswered, and the page never made for them; the endpoint serves on.
TEST_F(MonitorEndpointFixture, HeadsTooLargeOrTooSlowAreClosedUnanswered)
{
    monitor::MonitorOptions options;
    options.headWait = 300ms;
    start(options);
    const std::string large =
        "GET /metrics HTTP/1.1\r\nX-Padding: " + std::string(monitor::maxRequestHead, 'a') +
        "\r\n\r\n";
    const std::string lineTooLong = "GET /" + std::string(monitor::maxRequestHead + 10, 'm');
    for (const std::string& request : {large, lineTooLong, std::string("GET /metr")}) {
        SCOPED_TRACE(request.substr(0, 40));
        TestClient client(port());
        try {
            client.send(request);
        } catch (const std::exception&) {
            // Closed while it was still sending: the same refusal.
        }
        const std::optional<std::string> answer = client.readToClose();
        ASSERT_TRUE(answer) << "not closed";
        EXPECT_EQ(*answer, "");
    }
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(statusLine(exchange("GET /metrics HTTP/1.1\r\n\r\n")), "HTTP/1.1 200 OK");
}

TEST_F(MonitorEndpointFixture, ASlowClientHoldsUpNoOther)
{
    monitor::MonitorOptions options;
    options.headWait = 60s;
    start(options);
    TestClient slow(port());
    slow.send("GET /met");
    EXPECT_EQ(bodyOf(exchange("GET /metrics HTTP/1.1\r\n\r\n")), pageBody);
    slow.send("rics HTTP/1.1\r\n\r\n");
    EXPECT_EQ(bodyOf(slow.readToClose().value_or("")), pageBody);
}

TEST_F(MonitorEndpointFixture, AnAddressNotAllowedIsClosedBeforeAByteIsRead)
{
    monitor::MonitorOptions options;
    options.allowed = {std::get<gateway::AddressRange>(gateway::parseAddressRange("127.0.0.2"))};
    start(options);
    EXPECT_EQ(exchange("GET /metrics HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(asked, 0);
}
