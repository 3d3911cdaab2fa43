#pragma once

#include <cstddef>
#include <cstdint>

namespace gateway::settings {

inline constexpr std::uint16_t listenerPort = 3000;
inline constexpr std::uint16_t linkPort = 8264;
// Fixed at build time (the CMake setting VELMOR_LINK_HOST, written into the generated
// BuildInfo.cpp): the program has no configuration file.
extern const char* const linkHost;
inline constexpr int replyWaitMs = 15000;
inline constexpr int listenBacklog = 15;
// Bound of the listener shutdown's wait for connection threads.
inline constexpr int terminateWaitMs = 8000;
inline constexpr std::size_t receiveSize = 32768;
// How long a request that has arrived only in part waits for its next piece; receiveSize
// bounds the whole.
inline constexpr int gatherWaitMs = 1000;

} // namespace gateway::settings
