#include "gateway/base/Histogram.h"

#include <algorithm>
#include <numeric>

namespace gateway {

std::uint64_t HistogramCounts::total() const
{
    return std::accumulate(counts.begin(), counts.end(), std::uint64_t{0});
}

void TimeHistogram::observe(std::chrono::steady_clock::duration took)
{
    const auto nanoseconds = std::max<std::int64_t>(
        0, std::chrono::duration_cast<std::chrono::nanoseconds>(took).count());
    const double seconds = static_cast<double>(nanoseconds) / 1e9;
    // A bound is the bucket's upper end, inclusive: a time of exactly 1 s counts under 1.
    const auto bucket = static_cast<std::size_t>(
        std::lower_bound(timeBucketBounds.begin(), timeBucketBounds.end(), seconds) -
        timeBucketBounds.begin());
    m_counts[bucket].fetch_add(1, std::memory_order_relaxed);
    m_sumNanoseconds.fetch_add(static_cast<std::uint64_t>(nanoseconds), std::memory_order_relaxed);
}

HistogramCounts TimeHistogram::counts() const
{
    HistogramCounts counts{timeBucketBounds, {}, 0};
    counts.counts.reserve(m_counts.size());
    for (const auto& count : m_counts) {
        counts.counts.push_back(count.load(std::memory_order_relaxed));
    }
    counts.sumSeconds = static_cast<double>(m_sumNanoseconds.load(std::memory_order_relaxed)) / 1e9;
    return counts;
}

} // namespace gateway
