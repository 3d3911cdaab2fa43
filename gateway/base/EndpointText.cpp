#include "gateway/base/EndpointText.h"

#include <algorithm>
#include <charconv>

namespace gateway {

std::variant<Endpoint, std::string> parseEndpoint(std::string_view text)
{
    const std::string quoted = "'" + std::string(text) + "'";
    std::string_view addressPart;
    std::string_view portPart;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return quoted + " is not [IPv6 address]:PORT";
        }
        addressPart = text.substr(1, close - 1);
        portPart = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string_view::npos) {
            return quoted + " has no port: write ADDRESS:PORT, such as 127.0.0.1:9464";
        }
        addressPart = text.substr(0, colon);
        portPart = text.substr(colon + 1);
        if (addressPart.find(':') != std::string_view::npos) {
            return quoted + ": an IPv6 address goes in brackets, such as [::1]:9464";
        }
    }
    const auto address = parseIpAddress(addressPart);
    if (!address) {
        return "'" + std::string(addressPart) + "' in " + quoted +
               " is not an IPv4 or IPv6 address";
    }
    int port = 0;
    const bool digitsOnly =
        !portPart.empty() && portPart.size() <= 5 &&
        std::all_of(portPart.begin(), portPart.end(), [](char c) { return c >= '0' && c <= '9'; });
    const auto [end, error] =
        std::from_chars(portPart.data(), portPart.data() + portPart.size(), port);
    if (!digitsOnly || error != std::errc() || port < 1 || port > 65535) {
        return "the port of " + quoted + " must be a number from 1 to 65535";
    }
    return Endpoint{address->unmapped(), static_cast<std::uint16_t>(port)};
}

} // namespace gateway
