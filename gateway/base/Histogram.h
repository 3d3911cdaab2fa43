#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

namespace gateway {

// The upper bounds (seconds) that times are counted under: from a reply over the loopback to
// the 15000 ms reply wait and beyond it.
inline constexpr std::array<double, 15> timeBucketBounds{
    0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 15};

// A histogram's counts at one moment: counts[i] times at or under bounds[i], the last one
// beyond every bound; sum in seconds.
struct HistogramCounts
{
    std::span<const double> bounds;
    std::vector<std::uint64_t> counts;
    double sumSeconds = 0;

    std::uint64_t total() const;
};

// Times counted by many threads at once, each count one relaxed atomic increment, so that
// counting never holds a request up.
class TimeHistogram
{
public:
    void observe(std::chrono::steady_clock::duration took);
    HistogramCounts counts() const;

private:
    std::array<std::atomic<std::uint64_t>, timeBucketBounds.size() + 1> m_counts{};
    std::atomic<std::uint64_t> m_sumNanoseconds{0};
};

} // namespace gateway
