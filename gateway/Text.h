#pragma once

#include <string>
#include <string_view>

namespace gateway {

// Text inside the gateway is UTF-16, so that every "character" count (field widths, the
// reply's code positions, the one "?" per code unit on the wire) is a count of code units.
using Text = std::u16string;
using TextView = std::u16string_view;

// Lone surrogates become U+FFFD.
std::string toUtf8(TextView text);
// Malformed sequences become U+FFFD, one per offending byte.
Text fromUtf8(std::string_view utf8);

} // namespace gateway
