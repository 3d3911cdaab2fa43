#pragma once

#include <string>
#include <string_view>

namespace gateway {

// A JSON string literal of UTF-8 text, quotes included: the quote and the backslash escaped,
// every control character (below U+0020, and DEL) as an escape, everything else as it is, so
// that one record stays one line whatever a front desk sent.
std::string jsonString(std::string_view utf8);

} // namespace gateway
