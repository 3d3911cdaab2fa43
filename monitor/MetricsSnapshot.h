#pragma once

#include "gateway/RequestMetrics.h"
#include "gateway/base/Histogram.h"
#include "gateway/link/Listener.h"
#include "gateway/link/LockLink.h"
#include "gateway/platform/ProcessUsage.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace monitor {

// Everything a scrape shows, taken at one moment.
struct MetricsSnapshot
{
    // The program (velmor_sndd, velmor_snd) and its version.
    std::string program;
    std::string version;
    std::vector<gateway::RequestOutcome> requests;
    gateway::HistogramCounts requestTimes;
    gateway::RefusalCounts refusals;
    std::size_t openConnections = 0;
    bool linkUp = false;
    gateway::LinkCounts link;
    gateway::HistogramCounts replyTimes;
    std::optional<std::chrono::system_clock::time_point> lastKeysMade;
    gateway::ProcessUsage process;
};

} // namespace monitor
