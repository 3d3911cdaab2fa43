#include "tools/support/SoakGrowth.h"

#include <algorithm>

namespace tools {

std::optional<SoakGrowth> growthAfterWarmUp(const std::vector<SoakSample>& samples,
                                            double warmUpSeconds, long long warmUpRequests)
{
    const auto warm = std::find_if(samples.begin(), samples.end(), [&](const SoakSample& sample) {
        return sample.seconds >= warmUpSeconds && sample.requests >= warmUpRequests;
    });
    if (warm == samples.end()) {
        return std::nullopt;
    }
    SoakGrowth growth{*warm, samples.back(), std::nullopt};
    const long long requests = growth.end.requests - growth.warm.requests;
    if (requests > 0) {
        growth.kiBPer10000Requests = static_cast<double>(growth.end.rssKiB - growth.warm.rssKiB) *
                                     10000.0 / static_cast<double>(requests);
    }
    return growth;
}

} // namespace tools
