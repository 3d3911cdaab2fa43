#include "monitor/HealthReport.h"

#include "gateway/ServiceStatus.h"

namespace monitor {

HealthAnswer healthAnswer(const HealthFacts& facts)
{
    const std::string since =
        facts.linkChangedStamp.empty() ? std::string() : " since " + facts.linkChangedStamp;
    const std::string link = gateway::linkStateText(facts.linkName, facts.linkUp) + since;
    if (!facts.listening) {
        return {503, "down: not listening for key requests; " + link};
    }
    if (facts.linkUp) {
        return {200, "ok: " + link};
    }
    return {503,
            "down: " + link +
                (facts.reconnectSeconds > 0
                     ? "; connecting again every " + std::to_string(facts.reconnectSeconds) + " s"
                     : "; requests fail until the program is restarted")};
}

} // namespace monitor
