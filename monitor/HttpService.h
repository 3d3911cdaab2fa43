#pragma once

#include "gateway/link/Connection.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace monitor {

// What a path answers with, made when it is asked for.
struct HttpPage
{
    int status = 200;
    std::string contentType;
    std::string body;
};
using HttpRoutes = std::map<std::string, std::function<HttpPage()>>;

// A request's head (request line and headers) larger than this is refused: no scrape comes near
// it, and nothing unbounded is kept for a client.
inline constexpr std::size_t maxRequestHead = 8192;
// The whole head must have come within this of the connection, however slowly it trickles
// (unless told otherwise).
inline constexpr std::chrono::seconds requestHeadWait{5};

// Plain HTTP/1.1 for monitoring: GET and HEAD of the routes' paths, 404 for another path, 405
// for another method; one request per connection. The parsing and the answer's form are the
// HTTP library's; the bytes come and go through the program's own connection, so that its
// limits (size, time, whom) hold before the library sees a byte.
class HttpService
{
public:
    explicit HttpService(HttpRoutes routes, std::chrono::milliseconds headWait = requestHeadWait);
    ~HttpService();
    HttpService(const HttpService&) = delete;
    HttpService& operator=(const HttpService&) = delete;

    // Reads one request, answers it and closes the connection. A head over maxRequestHead, one
    // not whole within headWait, and a client gone are closed without an answer.
    void serve(gateway::Connection& connection) const;

private:
    class Server;
    std::unique_ptr<Server> m_server;
    const std::chrono::milliseconds m_headWait;
};

} // namespace monitor
