#pragma once

#include <cstddef>
#include <cstdint>

namespace gateway::settings {

inline constexpr std::uint16_t listenerPort = 3000;
inline constexpr std::uint16_t linkPort = 8264;
// The default where neither the settings file nor the command line names the lock system: set
// at build time (the CMake setting VELMOR_LINK_HOST, written into the generated BuildInfo.cpp).
extern const char* const linkHost;
inline constexpr int replyWaitMs = 15000;
inline constexpr int listenBacklog = 15;
// Bound of the listener shutdown's wait for connection threads.
inline constexpr int terminateWaitMs = 8000;
inline constexpr std::size_t receiveSize = 32768;
// How long a request that has arrived only in part waits for its next piece; receiveSize
// bounds the whole.
inline constexpr int gatherWaitMs = 1000;
// A lock-system machine that loses its power closes nothing: without probes the idle link would
// look alive until the next exchange's reply wait ran out, and a line in flight would be resent
// by the system for many minutes. After 15 s of silence the link is probed every 5 s and
// ends after 4 unanswered probes (Windows sends its own 10 where it cannot be told the count);
// data unacknowledged for 45 s ends it too (Linux). Either way it is noticed within a minute.
inline constexpr int linkKeepAliveIdleSeconds = 15;
inline constexpr int linkKeepAliveIntervalSeconds = 5;
inline constexpr int linkKeepAliveProbes = 4;
inline constexpr int linkUnacknowledgedLimitMs = 45000;
// Where the log file and the key record roll over by themselves (Windows), the months moved
// aside that are kept: two years, as an audit may reach back that far.
inline constexpr int keepMonths = 24;

} // namespace gateway::settings
