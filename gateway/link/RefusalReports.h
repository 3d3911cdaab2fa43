#pragma once

#include "gateway/base/IpAddress.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace gateway {

// Refused connections, reported at most once an interval for each address: the first at once,
// the later ones counted, and the count said with the address's next report or, if it tries no
// more, once its interval is over (flushDue), so that every refusal is on record. However many
// addresses try, memory stays bounded: beyond maxAddresses the rest share one count. Thread-safe.
class RefusalReports
{
public:
    using Clock = std::chrono::steady_clock;

    explicit RefusalReports(std::chrono::milliseconds every, std::size_t maxAddresses = 4096)
        : m_every(every), m_maxAddresses(maxAddresses)
    {
    }

    // For one refusal: the number held back for this address since its last report when this one
    // is to be reported, none when it is counted instead.
    std::optional<int> admit(const IpAddress& address, Clock::time_point now = Clock::now());

    struct HeldBack
    {
        // None: addresses beyond maxAddresses, counted together.
        std::optional<IpAddress> address;
        int count = 0;
    };
    // The counts whose interval is over, taken; their addresses are forgotten.
    std::vector<HeldBack> flushDue(Clock::time_point now = Clock::now());

private:
    struct Entry
    {
        Clock::time_point reportedAt;
        int heldBack = 0;
    };
    const std::chrono::milliseconds m_every;
    const std::size_t m_maxAddresses;
    std::mutex m_mutex;
    std::map<IpAddress, Entry> m_entries;
    std::optional<Clock::time_point> m_othersSince;
    int m_others = 0;
};

} // namespace gateway
