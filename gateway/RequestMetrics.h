#pragma once

#include "gateway/KeyRecord.h"
#include "gateway/base/Histogram.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace gateway {

// One way a request can end, as its key record tells it, and how many ended so.
struct RequestOutcome
{
    KeyRecord::Answer answer;
    // As the key record gives it; empty where the code decided.
    std::string_view reason;
    std::uint64_t count = 0;
};

// How the requests read so far ended and how long each took from its arrival to its end,
// counted by the connection threads without a lock and read by whoever watches the program.
class RequestMetrics
{
public:
    void observe(const KeyRecord& record, std::chrono::steady_clock::duration took);

    // Every way a request can end, each always there (0 until one ends so), in a fixed order.
    std::vector<RequestOutcome> outcomes() const;
    const TimeHistogram& times() const { return m_times; }
    // When keys were last made; none since the start.
    std::optional<std::chrono::system_clock::time_point> lastMade() const;

private:
    struct Way
    {
        KeyRecord::Answer answer;
        std::string_view reason;
    };
    // The last is for an end the others do not name.
    static constexpr std::array<Way, 8> ways{{
        {KeyRecord::Answer::Made, ""},
        {KeyRecord::Answer::NotMade, ""},
        {KeyRecord::Answer::NotMade, reasons::notSentInTime},
        {KeyRecord::Answer::None, reasons::linkDown},
        {KeyRecord::Answer::None, reasons::frontDeskGone},
        {KeyRecord::Answer::None, reasons::requestNotReadable},
        {KeyRecord::Answer::None, reasons::stopped},
        {KeyRecord::Answer::None, ""},
    }};

    std::array<std::atomic<std::uint64_t>, ways.size()> m_counts{};
    TimeHistogram m_times;
    // System-clock ticks; 0 before the first keys made.
    std::atomic<std::chrono::system_clock::rep> m_lastMade{0};
};

} // namespace gateway
