#pragma once

#include "app/ProgramOptions.h"
#include "gateway/Gateway.h"
#include "gateway/base/Settings.h"
#include "monitor/MonitorEndpoint.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <utility>

namespace window {

// What the operator program is set to: the gateway's settings, and how its link and records are
// kept beyond what the window itself needs.
struct OperatorOptions
{
    // Gateway settings alone: the link connected once, no key record, no log file.
    OperatorOptions(gateway::GatewayOptions options = {}) : gateway(std::move(options)) {}

    gateway::GatewayOptions gateway;
    // 0: the link is connected once, at start, a failure shown in a box; otherwise in the
    // background, and again whenever it is lost or out of step, retried this often.
    std::chrono::seconds reconnect{0};
    // Where the key record is kept; empty: none.
    std::string keyRecord;
    // Where every log line is kept, stamped; empty: in the pane alone.
    std::string logFile;
    // How many of the latest log lines the pane keeps.
    std::size_t logLines = app::defaultLogLines;
    // Where it rolls over by itself (Windows), the months moved aside that are kept; 0: all.
    int keepMonths = gateway::settings::keepMonths;
    // Where health and metrics are answered over HTTP; no address: nowhere.
    monitor::MonitorOptions monitoring;
};

} // namespace window
