#pragma once

#include "gateway/base/AddressRange.h"
#include "gateway/base/IpAddress.h"
#include "gateway/link/Listener.h"
#include "monitor/HttpService.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace monitor {

struct MonitorOptions
{
    // Where to answer; none: nowhere (the endpoint is off).
    std::vector<gateway::Endpoint> listen;
    // Whom to answer (none: whoever can reach it); as for front desks, others are closed before
    // a byte is read.
    std::vector<gateway::AddressRange> allowed;
    // How long a client has to send its request's head.
    std::chrono::milliseconds headWait = requestHeadWait;
};

// Scrapes and health checks at once beyond this are closed at once: enough for every monitor a
// hotel group runs, few enough that slow clients cannot pile up threads.
inline constexpr std::size_t maxMonitorConnections = 16;

// The HTTP endpoint for monitoring, apart from the request path: listeners and threads of its
// own, one per address, which share nothing with the front desks' but what they read.
class MonitorEndpoint
{
public:
    // status is told, as one line, of refused connections and of what keeps a listener from
    // accepting (at most once a minute each).
    MonitorEndpoint(MonitorOptions options, HttpRoutes routes,
                    gateway::Listener::StatusSink status);
    ~MonitorEndpoint();
    MonitorEndpoint(const MonitorEndpoint&) = delete;
    MonitorEndpoint& operator=(const MonitorEndpoint&) = delete;

    // Throws as Listener::start does; listeners started by then are shut down again.
    void start();
    void shutdown();
    // The ports listened on, in the order of the addresses (a port 0 asked for is the chosen one).
    std::vector<std::uint16_t> ports() const;
    const MonitorOptions& options() const { return m_options; }

private:
    const MonitorOptions m_options;
    const gateway::Listener::StatusSink m_status;
    HttpService m_service;
    std::vector<std::unique_ptr<gateway::Listener>> m_listeners;
};

// "127.0.0.1:9464, [::1]:9464".
std::string endpointsText(const std::vector<gateway::Endpoint>& endpoints);

// Starts the endpoint and gives the line that says so ("answering monitoring … on …"), or why it
// could not ("cannot answer monitoring on …: …"; it is then shut down).
std::string startMonitoring(MonitorEndpoint& endpoint);

} // namespace monitor
