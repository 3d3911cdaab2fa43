#pragma once

#include "gateway/base/Text.h"

#include <cstdint>

namespace gateway {

// Reads the room number out of the room field: characters of code 32 or less are trimmed from
// both ends, then an optional sign and decimal digits (signed 32-bit range) or a "$", "x", "X",
// "0x", "0X" prefix and hexadecimal digits (32-bit pattern, two's complement).
// Throws EConvertError "'<trimmed text>' is not a valid integer value".
std::int32_t readRoomNumber(TextView roomField);

} // namespace gateway
