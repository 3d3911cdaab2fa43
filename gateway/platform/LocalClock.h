#pragma once

#include "gateway/base/Timestamp.h"

#include <chrono>

// The system's local time zone, for stamping records. Implemented once for POSIX systems and
// once for Windows.
namespace gateway {

LocalTime localTimeAt(std::chrono::system_clock::time_point moment);

inline std::string timestampNow()
{
    return isoTimestamp(localTimeAt(std::chrono::system_clock::now()));
}

} // namespace gateway
