#include "gateway/Gateway.h"

namespace gateway {

Gateway::Gateway(const GatewayOptions& options, LogSink log, Listener::Handler execute)
    : m_link(options.linkHost, options.linkPort, log), m_handler(m_link, log, options.replyWaitMs),
      m_listener(options.listenerPort,
                 execute ? std::move(execute)
                         : Listener::Handler([this](Connection& client) { m_handler.run(client); }),
                 options.terminateWaitMs)
{
    m_listener.setOverdueAction([this] { m_link.cancel(); });
    m_listener.setIdleTimeout(options.idleTimeoutMs);
    m_listener.setAddresses(options.listenAddresses);
    m_listener.setPeerFilter(options.allowedPeers);
    m_listener.setMaxConnections(options.maxConnections);
    m_link.setConnectTimeout(std::chrono::milliseconds(options.connectTimeoutMs));
}

Gateway::~Gateway()
{
    shutdown();
}

void Gateway::startListener()
{
    m_listener.start();
}

void Gateway::connectLink(const WakeSignal* abandon)
{
    m_link.connect(abandon);
}

void Gateway::stopServing()
{
    m_listener.shutdown();
    m_link.cancel();
}

void Gateway::shutdown()
{
    m_listener.shutdown();
    m_link.close();
}

} // namespace gateway
