#include "gateway/base/IpAddress.h"

#include <algorithm>
#include <cstdio>

namespace gateway {

namespace {

constexpr std::array<std::uint8_t, 12> mappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<std::array<std::uint8_t, 4>> parseDotted(std::string_view text)
{
    std::array<std::uint8_t, 4> bytes{};
    std::size_t at = 0;
    for (std::size_t part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') {
                return std::nullopt;
            }
            ++at;
        }
        const std::size_t start = at;
        int value = 0;
        while (at < text.size() && isDigit(text[at]) && at - start < 3) {
            value = value * 10 + (text[at] - '0');
            ++at;
        }
        const std::size_t digits = at - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) {
            return std::nullopt;
        }
        bytes[part] = static_cast<std::uint8_t>(value);
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return bytes;
}

// Groups of up to four hex digits separated by ":", one "::" for a run of zero groups, and a
// dotted IPv4 part in place of the last two groups.
std::optional<std::array<std::uint8_t, 16>> parseIPv6(std::string_view text)
{
    std::array<std::uint16_t, 8> groups{};
    std::size_t count = 0;
    std::optional<std::size_t> gapAt;
    std::size_t at = 0;
    if (text.substr(0, 2) == "::") {
        gapAt = 0;
        at = 2;
    } else if (!text.empty() && text[0] == ':') {
        return std::nullopt;
    }
    while (at < text.size()) {
        const std::size_t start = at;
        unsigned value = 0;
        while (at < text.size() && hexValue(text[at]) >= 0 && at - start < 4) {
            value = value * 16 + static_cast<unsigned>(hexValue(text[at]));
            ++at;
        }
        if (at < text.size() && text[at] == '.') {
            // The dotted tail stands for the last two groups.
            const auto dotted = parseDotted(text.substr(start));
            if (!dotted || count > 6) {
                return std::nullopt;
            }
            groups[count++] = static_cast<std::uint16_t>((*dotted)[0] << 8 | (*dotted)[1]);
            groups[count++] = static_cast<std::uint16_t>((*dotted)[2] << 8 | (*dotted)[3]);
            at = text.size();
            break;
        }
        if (at == start || count == 8) {
            return std::nullopt;
        }
        groups[count++] = static_cast<std::uint16_t>(value);
        if (at == text.size()) {
            break;
        }
        if (text[at] != ':') {
            return std::nullopt;
        }
        ++at;
        if (at < text.size() && text[at] == ':') {
            if (gapAt) {
                return std::nullopt;
            }
            gapAt = count;
            ++at;
        } else if (at == text.size()) {
            return std::nullopt; // a single trailing ":"
        }
    }
    if (gapAt ? count > 7 : count != 8) {
        return std::nullopt;
    }
    std::array<std::uint16_t, 8> full{};
    if (gapAt) {
        std::copy_n(groups.begin(), *gapAt, full.begin());
        const std::size_t after = count - *gapAt;
        std::copy_n(groups.begin() + static_cast<std::ptrdiff_t>(*gapAt), after,
                    full.end() - static_cast<std::ptrdiff_t>(after));
    } else {
        full = groups;
    }
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < 8; ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(full[i] >> 8);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(full[i] & 0xff);
    }
    return bytes;
}

std::string dottedText(const std::uint8_t* bytes)
{
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

} // namespace

IpAddress IpAddress::any(Family family)
{
    IpAddress address;
    address.family = family;
    return address;
}

IpAddress IpAddress::ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    IpAddress address;
    address.bytes[0] = a;
    address.bytes[1] = b;
    address.bytes[2] = c;
    address.bytes[3] = d;
    return address;
}

bool IpAddress::isAny() const
{
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

bool IpAddress::isIPv4Mapped() const
{
    return family == Family::IPv6 &&
           std::equal(mappedPrefix.begin(), mappedPrefix.end(), bytes.begin());
}

IpAddress IpAddress::unmapped() const
{
    if (!isIPv4Mapped()) {
        return *this;
    }
    return ipv4(bytes[12], bytes[13], bytes[14], bytes[15]);
}

std::optional<IpAddress> parseIpAddress(std::string_view text)
{
    IpAddress address;
    if (text.find(':') == std::string_view::npos) {
        const auto dotted = parseDotted(text);
        if (!dotted) {
            return std::nullopt;
        }
        std::copy(dotted->begin(), dotted->end(), address.bytes.begin());
        return address;
    }
    const auto bytes = parseIPv6(text);
    if (!bytes) {
        return std::nullopt;
    }
    address.family = Family::IPv6;
    address.bytes = *bytes;
    return address;
}

std::string addressText(const IpAddress& address)
{
    if (address.family == Family::IPv4) {
        return dottedText(address.bytes.data());
    }
    if (address.isIPv4Mapped()) {
        return "::ffff:" + dottedText(address.bytes.data() + 12);
    }
    std::array<unsigned, 8> groups{};
    for (std::size_t i = 0; i < 8; ++i) {
        groups[i] = static_cast<unsigned>(address.bytes[2 * i] << 8 | address.bytes[2 * i + 1]);
    }
    // The longest run of zero groups, the first of equals, if it spans two groups or more.
    std::size_t bestStart = 8;
    std::size_t bestLength = 1;
    for (std::size_t i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < 8 && groups[end] == 0) {
            ++end;
        }
        if (end - i > bestLength) {
            bestStart = i;
            bestLength = end - i;
        }
        i = end;
    }
    std::string text;
    for (std::size_t i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += "::";
            i += bestLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':') {
            text += ':';
        }
        char group[8];
        std::snprintf(group, sizeof group, "%x", groups[i]);
        text += group;
    }
    return text;
}

std::string endpointText(const Endpoint& endpoint)
{
    const IpAddress address = endpoint.address.unmapped();
    const std::string port = std::to_string(endpoint.port);
    if (address.family == Family::IPv6) {
        return "[" + addressText(address) + "]:" + port;
    }
    return addressText(address) + ":" + port;
}

} // namespace gateway
