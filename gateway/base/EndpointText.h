#pragma once

#include "gateway/base/IpAddress.h"

#include <string>
#include <string_view>
#include <variant>

namespace gateway {

// "127.0.0.1:9464", "[::1]:9464", "0.0.0.0:9464": an address literal and a port from 1 to
// 65535, the IPv6 literal in brackets as URLs write it; or why the text is none.
std::variant<Endpoint, std::string> parseEndpoint(std::string_view text);

} // namespace gateway
