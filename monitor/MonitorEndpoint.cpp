#include "monitor/MonitorEndpoint.h"

#include "gateway/base/ReadableText.h"

namespace monitor {

namespace {

// A scrape is served at once; a connection left open after it is no client of ours.
constexpr int idleMs = 1000;
// Shutdown waits this long for a scrape being answered.
constexpr int terminateWaitMs = 2000;

} // namespace

MonitorEndpoint::MonitorEndpoint(MonitorOptions options, HttpRoutes routes,
                                 gateway::Listener::StatusSink status)
    : m_options(std::move(options)), m_status(std::move(status)),
      m_service(std::move(routes), m_options.headWait)
{
}

MonitorEndpoint::~MonitorEndpoint()
{
    shutdown();
}

void MonitorEndpoint::start()
{
    try {
        for (const gateway::Endpoint& endpoint : m_options.listen) {
            auto listener = std::make_unique<gateway::Listener>(
                endpoint.port,
                [this](gateway::Connection& connection) { m_service.serve(connection); },
                terminateWaitMs);
            listener->setAddresses({endpoint.address});
            listener->setPeerFilter(gateway::PeerFilter(m_options.allowed));
            listener->setMaxConnections(maxMonitorConnections);
            listener->setIdleTimeout(idleMs);
            listener->setStatusSink(m_status);
            listener->start();
            m_listeners.push_back(std::move(listener));
        }
    } catch (...) {
        shutdown();
        throw;
    }
}

void MonitorEndpoint::shutdown()
{
    for (auto& listener : m_listeners) {
        listener->shutdown();
    }
    m_listeners.clear();
}

std::vector<std::uint16_t> MonitorEndpoint::ports() const
{
    std::vector<std::uint16_t> ports;
    for (const auto& listener : m_listeners) {
        ports.push_back(listener->port());
    }
    return ports;
}

std::string endpointsText(const std::vector<gateway::Endpoint>& endpoints)
{
    std::string text;
    for (const gateway::Endpoint& endpoint : endpoints) {
        text += (text.empty() ? "" : ", ") + gateway::endpointText(endpoint);
    }
    return text;
}

std::string startMonitoring(MonitorEndpoint& endpoint)
{
    const std::string where = endpointsText(endpoint.options().listen);
    try {
        endpoint.start();
    } catch (const std::exception& error) {
        return "cannot answer monitoring on " + where + ": " + gateway::describeFailure(error) +
               "; key requests are served all the same";
    }
    const std::string ranges = gateway::rangesText(endpoint.options().allowed);
    return "answering monitoring (/health, /metrics) on " + where +
           (ranges.empty() ? "" : ", to " + ranges + " only");
}

} // namespace monitor
