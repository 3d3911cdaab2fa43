#pragma once

#include <string>
#include <string_view>

namespace gateway {

// Bytes as a person can read them on one line: STX, ETX and EOT by name (<STX>), every other
// control character and every byte above 0x7E by code (<0x0D>).
std::string readableBytes(std::string_view bytes);

} // namespace gateway
