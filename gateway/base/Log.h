#pragma once

#include "gateway/base/Text.h"

#include <functional>

namespace gateway {

// Appends one log line, exactly the text given. Called from connection threads as well as
// the window's thread, so an implementation must be thread-safe and must not wait for the
// window's thread.
using LogSink = std::function<void(TextView line)>;

} // namespace gateway
