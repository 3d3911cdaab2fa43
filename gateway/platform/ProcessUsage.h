#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace gateway {

// What the process holds and since when, as a monitoring system asks for them; each none where
// the system does not tell.
struct ProcessUsage
{
    std::optional<std::chrono::system_clock::time_point> startedAt;
    std::optional<std::uint64_t> residentBytes;
    // Open files and sockets (POSIX descriptors; Windows handles, of every kind).
    std::optional<std::uint64_t> openDescriptors;
};

ProcessUsage processUsage();

} // namespace gateway
