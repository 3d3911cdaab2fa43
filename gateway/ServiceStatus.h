#pragma once

#include "gateway/RequestTally.h"

#include <string>

namespace gateway {

// The one line that tells an administrator how a running gateway is doing: where its lock
// system is, whether the link is up, and how the requests so far have ended.
std::string serviceStatusLine(const std::string& linkName, bool linkUp,
                              const RequestCounts& counts);

} // namespace gateway
