#pragma once

#include "gateway/base/Text.h"

#include <exception>
#include <string>
#include <string_view>

namespace gateway {

// Bytes as a person can read them on one line: STX, ETX, EOT, CR and LF by name (<STX>), every
// other control character and every byte above 0x7E by code (<0x09>, <0xE9>).
std::string readableBytes(std::string_view bytes);

// A message on one line: socket error messages carry a CR LF between number and text, which
// becomes a blank (CR dropped, LF a blank).
std::string oneLine(std::string_view message);

// A failure on one line: its class, when it is one of the gateway's, and its message
// ("EIdSocketError: Socket Error # 10054 Connection reset by peer."); then the system's own
// words where they say more ("... Host not found. (system: Name or service not known)"), and a
// failed bind's real reason ("... already in use. (system: Socket Error # 10013 Access denied.;
// Permission denied)").
std::string describeFailure(const std::exception& failure);

// Text as a person can read it on one line, in UTF-8: control characters (below 32, and 127)
// as readableBytes writes them, everything else as it is.
std::string readableText(TextView text);

} // namespace gateway
