#pragma once

#include "gateway/base/IpAddress.h"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace gateway {

// The addresses that share their first prefixLength bits with base: "ADDRESS[/PREFIX]". An
// IPv4-mapped IPv6 range of /96 or more is held as the IPv4 range it stands for, so that a
// rule and a peer match whichever of the two forms each is written in.
struct AddressRange
{
    IpAddress base;
    int prefixLength = 32;

    bool operator==(const AddressRange&) const = default;
    bool contains(const IpAddress& address) const;
};

// The range, or why the text is none: a bad address, a prefix out of its family's bounds
// (0 to 32, 0 to 128), or bits set beyond the prefix (10.1.2.3/8, most likely a typo for a
// narrower range, is refused rather than widened).
std::variant<AddressRange, std::string> parseAddressRange(std::string_view text);

// "10.0.0.0/8", "2001:db8::/32"; a single address without its prefix.
std::string rangeText(const AddressRange& range);
// "10.1.20.0/24, 10.1.30.5": each as rangeText gives it.
std::string rangesText(const std::vector<AddressRange>& ranges);

// Whom the gateway serves: every peer when no range is given, else a peer in one of them.
class PeerFilter
{
public:
    PeerFilter() = default;
    explicit PeerFilter(std::vector<AddressRange> ranges) : m_ranges(std::move(ranges)) {}

    bool allows(const IpAddress& peer) const;
    bool allowsEveryone() const { return m_ranges.empty(); }
    const std::vector<AddressRange>& ranges() const { return m_ranges; }

private:
    std::vector<AddressRange> m_ranges;
};

} // namespace gateway
