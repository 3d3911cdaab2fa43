#pragma once

#include <optional>
#include <vector>

namespace tools {

// One look at the gateway process during a soak run, with the requests sent until then.
struct SoakSample
{
    double seconds = 0;
    long long requests = 0;
    long rssKiB = 0;
    long descriptors = 0;
    long threads = 0;
};

// Resident memory after the warm-up against the end of the run.
struct SoakGrowth
{
    SoakSample warm; // the first sample once both warm-up bounds have passed
    SoakSample end;  // the last sample
    // (end RSS - warm RSS) per 10,000 requests sent between them; none without such requests.
    std::optional<double> kiBPer10000Requests;
};

// The growth over samples in the order taken; none when no sample comes after warmUpSeconds
// and warmUpRequests both: the run was too short to say.
std::optional<SoakGrowth> growthAfterWarmUp(const std::vector<SoakSample>& samples,
                                            double warmUpSeconds, long long warmUpRequests);

} // namespace tools
