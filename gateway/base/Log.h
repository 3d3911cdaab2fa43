#pragma once

#include "gateway/base/Text.h"

#include <functional>
#include <span>

namespace gateway {

// Appends one log line, exactly the text given. Called from connection threads as well as
// the window's thread, so an implementation must be thread-safe and must not wait for the
// window's thread.
using LogSink = std::function<void(TextView line)>;

// Appends several log lines, in order and together: a request's lines, so that an output can
// write them in one go. The same rules as LogSink.
using LogLinesSink = std::function<void(std::span<const Text> lines)>;

} // namespace gateway
