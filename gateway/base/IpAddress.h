#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gateway {

enum class Family
{
    IPv4,
    IPv6
};

// An IPv4 or IPv6 address as the network carries it. An IPv4 address uses the first four bytes.
struct IpAddress
{
    Family family = Family::IPv4;
    std::array<std::uint8_t, 16> bytes{};

    bool operator==(const IpAddress&) const = default;
    auto operator<=>(const IpAddress&) const = default;

    // The wildcard address of a family (0.0.0.0, ::).
    static IpAddress any(Family family);
    static IpAddress ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
    std::size_t length() const { return family == Family::IPv4 ? 4 : 16; }
    bool isAny() const;
    // ::ffff:a.b.c.d, what a dual-stack socket shows for an IPv4 peer.
    bool isIPv4Mapped() const;
    // An IPv4-mapped IPv6 address as the IPv4 address it stands for; any other as it is.
    IpAddress unmapped() const;
};

// A literal: dotted IPv4 (four decimal numbers of 0 to 255, no leading zeros, as a typo in an
// octal-looking "010" must not widen an allowed range) or IPv6 text (RFC 4291, with "::" and a
// trailing dotted IPv4 part; no zone). Nothing else, names included.
std::optional<IpAddress> parseIpAddress(std::string_view text);

// Dotted IPv4, or IPv6 in its canonical form (RFC 5952: lower case, the longest run of two or
// more zero groups as "::", an IPv4-mapped address ending in dotted form).
std::string addressText(const IpAddress& address);

// An address with a port, as a peer or a listening socket has it.
struct Endpoint
{
    IpAddress address;
    std::uint16_t port = 0;
};

// "192.0.2.7:53114", "[2001:db8::7]:53114"; an IPv4-mapped peer in its IPv4 form.
std::string endpointText(const Endpoint& endpoint);

} // namespace gateway
