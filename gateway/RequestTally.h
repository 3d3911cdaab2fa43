#pragma once

#include <atomic>
#include <cstdint>

namespace gateway {

// How the requests read so far ended.
struct RequestCounts
{
    // Answered that the keys were made, and that they were not.
    std::uint64_t made = 0;
    std::uint64_t notMade = 0;
    // Closed without an answer (not readable, link down, the front desk gone).
    std::uint64_t unanswered = 0;

    bool operator==(const RequestCounts&) const = default;
};

// Counted by the connection threads, read by whoever reports the program's state.
class RequestTally
{
public:
    void countMade() { ++m_made; }
    void countNotMade() { ++m_notMade; }
    void countUnanswered() { ++m_unanswered; }
    RequestCounts counts() const { return {m_made.load(), m_notMade.load(), m_unanswered.load()}; }

private:
    std::atomic<std::uint64_t> m_made{0};
    std::atomic<std::uint64_t> m_notMade{0};
    std::atomic<std::uint64_t> m_unanswered{0};
};

} // namespace gateway
