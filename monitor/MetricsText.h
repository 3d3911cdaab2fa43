#pragma once

#include "monitor/MetricsSnapshot.h"

#include <string>

namespace monitor {

// The media type of metricsText's output.
inline constexpr const char* metricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// The snapshot in Prometheus' text exposition format (0.0.4): the program's own series under
// velmor_snd_, in base units (seconds, bytes), and the process's under the names every
// Prometheus client gives them (process_start_time_seconds, …), so that ready-made dashboards
// and alerts find them.
std::string metricsText(const MetricsSnapshot& snapshot);

} // namespace monitor
