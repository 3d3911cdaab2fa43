#include "gateway/RequestMetrics.h"

namespace gateway {

void RequestMetrics::observe(const KeyRecord& record, std::chrono::steady_clock::duration took)
{
    std::size_t way = ways.size() - 1;
    for (std::size_t i = 0; i < ways.size(); ++i) {
        if (ways[i].answer == record.answer && ways[i].reason == record.reason) {
            way = i;
            break;
        }
    }
    m_counts[way].fetch_add(1, std::memory_order_relaxed);
    m_times.observe(took);
    if (record.answer == KeyRecord::Answer::Made) {
        m_lastMade = record.answered.time_since_epoch().count();
    }
}

std::vector<RequestOutcome> RequestMetrics::outcomes() const
{
    std::vector<RequestOutcome> outcomes;
    outcomes.reserve(ways.size());
    for (std::size_t i = 0; i < ways.size(); ++i) {
        outcomes.push_back({ways[i].answer, ways[i].reason, m_counts[i].load()});
    }
    return outcomes;
}

std::optional<std::chrono::system_clock::time_point> RequestMetrics::lastMade() const
{
    const auto ticks = m_lastMade.load();
    if (ticks == 0) {
        return std::nullopt;
    }
    return std::chrono::system_clock::time_point(std::chrono::system_clock::duration(ticks));
}

} // namespace gateway
