#pragma once

#include "gateway/base/Text.h"

#include <string>
#include <string_view>

namespace gateway {

// Text to wire bytes with CR LF appended: U+0000..U+007F as themselves, every other UTF-16
// code unit as "?" (so a character beyond the BMP becomes "??").
std::string encodeLine(TextView text);
// Wire bytes to text, one character per byte: bytes above 0x7F become U+FFFD.
Text decodeBytes(std::string_view bytes);

} // namespace gateway
