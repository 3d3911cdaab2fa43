#include "gateway/base/AddressRange.h"

#include <algorithm>
#include <charconv>

namespace gateway {

namespace {

constexpr int mappedPrefixBits = 96;

// Whether the first bits of a and b are the same.
bool samePrefix(const IpAddress& a, const IpAddress& b, int bits)
{
    std::size_t whole = static_cast<std::size_t>(bits / 8);
    if (!std::equal(a.bytes.begin(), a.bytes.begin() + static_cast<std::ptrdiff_t>(whole),
                    b.bytes.begin())) {
        return false;
    }
    const int rest = bits % 8;
    if (rest == 0) {
        return true;
    }
    const auto mask = static_cast<std::uint8_t>(0xff << (8 - rest));
    return (a.bytes[whole] & mask) == (b.bytes[whole] & mask);
}

// The address with every bit beyond the prefix cleared.
IpAddress masked(IpAddress address, int bits)
{
    for (std::size_t i = 0; i < address.bytes.size(); ++i) {
        const int kept = std::clamp(bits - static_cast<int>(i) * 8, 0, 8);
        address.bytes[i] &= static_cast<std::uint8_t>(0xff00 >> kept);
    }
    return address;
}

} // namespace

bool AddressRange::contains(const IpAddress& address) const
{
    const IpAddress peer = address.unmapped();
    return peer.family == base.family && samePrefix(peer, base, prefixLength);
}

std::variant<AddressRange, std::string> parseAddressRange(std::string_view text)
{
    const std::size_t slash = text.find('/');
    const std::string_view addressPart = text.substr(0, slash);
    const auto address = parseIpAddress(addressPart);
    if (!address) {
        return "'" + std::string(addressPart) + "' is not an IPv4 or IPv6 address";
    }
    const int bound = static_cast<int>(address->length()) * 8;
    AddressRange range{*address, bound};
    if (slash != std::string_view::npos) {
        const std::string_view prefix = text.substr(slash + 1);
        int value = -1;
        const auto [end, error] =
            std::from_chars(prefix.data(), prefix.data() + prefix.size(), value);
        const bool digitsOnly =
            !prefix.empty() && prefix.size() <= 3 &&
            std::all_of(prefix.begin(), prefix.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digitsOnly || error != std::errc() || end != prefix.data() + prefix.size() ||
            value > bound) {
            return "the prefix of '" + std::string(text) + "' must be a number from 0 to " +
                   std::to_string(bound);
        }
        range.prefixLength = value;
    }
    if (masked(range.base, range.prefixLength) != range.base) {
        return "'" + std::string(text) + "' has bits set beyond its /" +
               std::to_string(range.prefixLength) + " prefix; the range starts at " +
               addressText(masked(range.base, range.prefixLength));
    }
    if (range.base.isIPv4Mapped() && range.prefixLength >= mappedPrefixBits) {
        range.base = range.base.unmapped();
        range.prefixLength -= mappedPrefixBits;
    }
    return range;
}

std::string rangeText(const AddressRange& range)
{
    const std::string address = addressText(range.base);
    if (range.prefixLength == static_cast<int>(range.base.length()) * 8) {
        return address;
    }
    return address + "/" + std::to_string(range.prefixLength);
}

std::string rangesText(const std::vector<AddressRange>& ranges)
{
    std::string text;
    for (const AddressRange& range : ranges) {
        text += (text.empty() ? "" : ", ") + rangeText(range);
    }
    return text;
}

bool PeerFilter::allows(const IpAddress& peer) const
{
    return m_ranges.empty() ||
           std::any_of(m_ranges.begin(), m_ranges.end(),
                       [&](const AddressRange& range) { return range.contains(peer); });
}

} // namespace gateway
