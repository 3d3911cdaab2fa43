#pragma once

#include "gateway/RequestTally.h"

#include <string>

namespace gateway {

// "lock system 10.1.2.3:8264: connected" (or "not connected"): where the lock system is and
// whether the link is up, as the status line and the window's notification icon say it.
std::string linkStateText(const std::string& linkName, bool linkUp);

// The one line that tells an administrator how a running gateway is doing: where its lock
// system is, whether the link is up, and how the requests so far have ended.
std::string serviceStatusLine(const std::string& linkName, bool linkUp,
                              const RequestCounts& counts);

} // namespace gateway
