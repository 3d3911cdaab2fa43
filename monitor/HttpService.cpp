#include "monitor/HttpService.h"

#include "gateway/base/IpAddress.h"

#include <httplib.h>

#include <algorithm>
#include <optional>
#include <string_view>

namespace monitor {

namespace {

// After the answer, how long and how much of what a client still sends is read and dropped.
constexpr std::chrono::milliseconds lingerTime{1000};
constexpr std::size_t maxLingerBytes = 64 * 1024;

// The request's head as it came, once whole; none when it is too large, too slow or the client
// went away first.
std::optional<std::string> readHead(gateway::Connection& connection,
                                    std::chrono::milliseconds headWait)
{
    const auto deadline = std::chrono::steady_clock::now() + headWait;
    for (;;) {
        const std::string_view bytes = connection.bufferedBytes();
        for (const std::string_view end :
             {std::string_view("\r\n\r\n"), std::string_view("\n\n")}) {
            if (const std::size_t at = bytes.find(end); at != std::string_view::npos) {
                if (at + end.size() > maxRequestHead) {
                    return std::nullopt;
                }
                // Anything after the head (a body) is left unread: no route takes one.
                return connection.takeBufferedBytes(at + end.size());
            }
        }
        // A peer that has ended its stream sends no more: a head it left unfinished never ends.
        if (bytes.size() >= maxRequestHead || !connection.isOpen()) {
            return std::nullopt;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        connection.waitForData(static_cast<int>(left.count()), nullptr,
                               maxRequestHead - bytes.size());
    }
}

// The library's view of one exchange: the head already read, the answer written through the
// connection.
class HeadStream final : public httplib::Stream
{
public:
    HeadStream(std::string head, gateway::Connection& connection)
        : m_head(std::move(head)), m_connection(connection)
    {
    }

    bool is_readable() const override { return m_read < m_head.size(); }
    bool is_writable() const override { return m_connection.isOpen(); }
    ssize_t read(char* ptr, size_t size) override
    {
        const std::size_t count = std::min(size, m_head.size() - m_read);
        std::copy_n(m_head.data() + m_read, count, ptr);
        m_read += count;
        return static_cast<ssize_t>(count);
    }
    ssize_t write(const char* ptr, size_t size) override
    {
        try {
            m_connection.writeBytes(std::string_view(ptr, size));
        } catch (const std::exception&) {
            return -1;
        }
        return static_cast<ssize_t>(size);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        if (const auto& peer = m_connection.peer()) {
            ip = gateway::addressText(peer->address.unmapped());
            port = peer->port;
        }
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        ip.clear();
        port = 0;
    }
    // The library never touches the socket itself: every byte goes through the connection.
    socket_t socket() const override { return INVALID_SOCKET; }

private:
    const std::string m_head;
    std::size_t m_read = 0;
    gateway::Connection& m_connection;
};

} // namespace

class HttpService::Server : public httplib::Server
{
public:
    explicit Server(HttpRoutes routes) : m_routes(std::move(routes))
    {
        for (const auto& [path, page] : m_routes) {
            // Answers HEAD too, without the body.
            Get(path, [&page](const httplib::Request&, httplib::Response& response) {
                const HttpPage made = page();
                response.status = made.status;
                response.set_content(made.body, made.contentType.c_str());
            });
        }
        set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
            if (request.method == "GET" || request.method == "HEAD") {
                return HandlerResponse::Unhandled;
            }
            response.status = 405;
            response.set_header("Allow", "GET, HEAD");
            response.set_content("only GET and HEAD are served here\n", "text/plain");
            return HandlerResponse::Handled;
        });
        set_error_handler([](const httplib::Request&, httplib::Response& response) {
            if (response.status == 404) {
                response.set_content("not found: /health and /metrics are served here\n",
                                     "text/plain");
            }
        });
    }

    void answer(HeadStream& stream)
    {
        bool closed = true;
        process_request(stream, true, closed, [](httplib::Request&) {});
    }

private:
    const HttpRoutes m_routes;
};

HttpService::HttpService(HttpRoutes routes, std::chrono::milliseconds headWait)
    : m_server(std::make_unique<Server>(std::move(routes))), m_headWait(headWait)
{
}

HttpService::~HttpService() = default;

void HttpService::serve(gateway::Connection& connection) const
{
    if (std::optional<std::string> head = readHead(connection, m_headWait)) {
        HeadStream stream(std::move(*head), connection);
        m_server->answer(stream);
    }
    // A client still sending (a body no route reads) would have its unread bytes answered with
    // a reset, which can cost it the answer before it has read it: the answer's end is sent, and
    // what still comes is dropped until the client closes, for a bounded time and amount.
    connection.endSending();
    const auto lingerUntil = std::chrono::steady_clock::now() + lingerTime;
    std::size_t dropped = 0;
    while (connection.isOpen() && dropped < maxLingerBytes) {
        dropped += connection.takeBufferedBytes().size();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            lingerUntil - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        connection.waitForData(static_cast<int>(left.count()));
    }
    // One request per connection: closed here, it is served no more.
    connection.close();
}

} // namespace monitor
