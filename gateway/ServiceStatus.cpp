#include "gateway/ServiceStatus.h"

namespace gateway {

std::string linkStateText(const std::string& linkName, bool linkUp)
{
    return "lock system " + linkName + ": " + (linkUp ? "connected" : "not connected");
}

std::string serviceStatusLine(const std::string& linkName, bool linkUp, const RequestCounts& counts)
{
    return linkStateText(linkName, linkUp) + "; requests: " + std::to_string(counts.made) +
           " keys made, " + std::to_string(counts.notMade) + " not made, " +
           std::to_string(counts.unanswered) + " failed";
}

} // namespace gateway
