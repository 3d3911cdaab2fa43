#include "gateway/link/RefusalReports.h"

#include <utility>

namespace gateway {

std::optional<int> RefusalReports::admit(const IpAddress& address, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(address);
    if (found != m_entries.end()) {
        Entry& entry = found->second;
        if (now - entry.reportedAt < m_every) {
            ++entry.heldBack;
            return std::nullopt;
        }
        entry.reportedAt = now;
        return std::exchange(entry.heldBack, 0);
    }
    if (m_entries.size() >= m_maxAddresses) {
        if (!m_othersSince) {
            m_othersSince = now;
        }
        ++m_others;
        return std::nullopt;
    }
    m_entries.emplace(address, Entry{now, 0});
    return 0;
}

std::vector<RefusalReports::HeldBack> RefusalReports::flushDue(Clock::time_point now)
{
    std::vector<HeldBack> due;
    std::lock_guard lock(m_mutex);
    for (auto at = m_entries.begin(); at != m_entries.end();) {
        if (now - at->second.reportedAt < m_every) {
            ++at;
            continue;
        }
        if (at->second.heldBack > 0) {
            due.push_back({at->first, at->second.heldBack});
        }
        at = m_entries.erase(at);
    }
    if (m_othersSince && now - *m_othersSince >= m_every) {
        due.push_back({std::nullopt, m_others});
        m_othersSince.reset();
        m_others = 0;
    }
    return due;
}

} // namespace gateway
