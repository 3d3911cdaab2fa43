#include "monitor/GatewayRoutes.h"

#include "gateway/base/BuildInfo.h"
#include "gateway/platform/LocalClock.h"
#include "monitor/MetricsText.h"

namespace monitor {

MetricsSnapshot takeSnapshot(const gateway::Gateway& gateway, const ProgramFacts& facts)
{
    MetricsSnapshot snapshot;
    snapshot.program = facts.program;
    snapshot.version = gateway::projectVersion();
    const gateway::RequestMetrics& requests = gateway.handler().metrics();
    snapshot.requests = requests.outcomes();
    snapshot.requestTimes = requests.times().counts();
    snapshot.lastKeysMade = requests.lastMade();
    snapshot.refusals = gateway.listener().refusals();
    snapshot.openConnections = gateway.listener().liveConnections();
    snapshot.linkUp = gateway.link().isUp();
    snapshot.link = gateway.link().counts();
    snapshot.replyTimes = gateway.link().replyTimes().counts();
    snapshot.process = gateway::processUsage();
    return snapshot;
}

HealthFacts healthFacts(const gateway::Gateway& gateway, const ProgramFacts& facts)
{
    HealthFacts health;
    health.listening = gateway.listener().isActive();
    health.linkName = facts.linkName;
    health.linkUp = gateway.link().isUp();
    if (const auto changedAt = gateway.link().counts().changedAt) {
        health.linkChangedStamp = gateway::isoTimestamp(gateway::localTimeAt(*changedAt));
    }
    health.reconnectSeconds = facts.reconnectSeconds;
    return health;
}

HttpRoutes gatewayRoutes(const gateway::Gateway& gateway, ProgramFacts facts)
{
    HttpRoutes routes;
    routes["/health"] = [&gateway, facts] {
        const HealthAnswer answer = healthAnswer(healthFacts(gateway, facts));
        return HttpPage{answer.status, "text/plain; charset=utf-8", answer.text + "\n"};
    };
    routes["/metrics"] = [&gateway, facts] {
        return HttpPage{200, metricsContentType, metricsText(takeSnapshot(gateway, facts))};
    };
    return routes;
}

} // namespace monitor
