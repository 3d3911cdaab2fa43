#pragma once

#include "gateway/platform/SocketPlatform.h"

#include <chrono>
#include <string>
#include <string_view>

namespace gateway {

// How a read up to a terminator ended.
enum class ReadEnd
{
    Found,
    Closed,
    TimedOut
};

// The other end's side of an exchange, for the stand-ins, the load tool and the tests: receives
// into pending until it holds terminator or the deadline passes. Found: the bytes before the
// terminator are in message, those after it stay in pending. Closed: the peer ended its stream
// first. Throws the socket error when a wait or a receive fails.
ReadEnd readUntil(const Socket& socket, std::string_view terminator,
                  std::chrono::steady_clock::time_point deadline, std::string& pending,
                  std::string& message);

} // namespace gateway
