#include "gateway/protocol/RoomNumber.h"

#include "gateway/base/Errors.h"

#include <optional>

namespace gateway {

namespace {

TextView trimControlsAndBlanks(TextView text)
{
    while (!text.empty() && text.front() <= u' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() <= u' ') {
        text.remove_suffix(1);
    }
    return text;
}

int digitValue(char16_t c, int base)
{
    int value = -1;
    if (c >= u'0' && c <= u'9') {
        value = c - u'0';
    } else if (c >= u'a' && c <= u'f') {
        value = c - u'a' + 10;
    } else if (c >= u'A' && c <= u'F') {
        value = c - u'A' + 10;
    }
    return value < base ? value : -1;
}

std::optional<std::int32_t> parseInteger(TextView text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == u'0' &&
               (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    // Hexadecimal is a 32-bit pattern; decimal must fit the signed range, whose negative end
    // is one further out than its positive end.
    const std::uint64_t limit = base == 16 ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        int digit = digitValue(text[i], base);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * base + static_cast<std::uint64_t>(digit);
        if (value > limit) {
            return std::nullopt;
        }
    }
    // Two's complement throughout: "$FFFFFFFF" is -1 and "-$80000000" stays the lowest value.
    auto pattern = static_cast<std::uint32_t>(value);
    if (negative) {
        pattern = 0u - pattern;
    }
    return static_cast<std::int32_t>(pattern);
}

} // namespace

std::int32_t readRoomNumber(TextView roomField)
{
    TextView text = trimControlsAndBlanks(roomField);
    auto value = parseInteger(text);
    if (!value) {
        throw EConvertError("'" + toUtf8(text) + "' is not a valid integer value");
    }
    return *value;
}

} // namespace gateway
