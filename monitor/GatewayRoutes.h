#pragma once

#include "gateway/Gateway.h"
#include "monitor/HealthReport.h"
#include "monitor/HttpService.h"
#include "monitor/MetricsSnapshot.h"

#include <string>

namespace monitor {

// What a running program tells about itself beyond its gateway.
struct ProgramFacts
{
    // "velmor_sndd", "velmor_snd".
    std::string program;
    // "10.1.2.3:8264".
    std::string linkName;
    // How often a lost link is connected again; 0: never.
    int reconnectSeconds = 0;
};

MetricsSnapshot takeSnapshot(const gateway::Gateway& gateway, const ProgramFacts& facts);
HealthFacts healthFacts(const gateway::Gateway& gateway, const ProgramFacts& facts);

// /health and /metrics of the gateway, made anew for each request; the gateway must outlive
// the endpoint that serves them.
HttpRoutes gatewayRoutes(const gateway::Gateway& gateway, ProgramFacts facts);

} // namespace monitor
