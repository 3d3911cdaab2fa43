#pragma once

#include <string>
#include <string_view>

namespace gateway {

// Text inside the gateway is UTF-16, so that every "character" count (field widths, the
// reply's code positions, the one "?" per code unit on the wire) is a count of code units.
using Text = std::u16string;
using TextView = std::u16string_view;

// What stands for a character that cannot be decoded or carried.
inline constexpr char16_t replacementCharacter = 0xFFFD;

// A surrogate code unit is half of a character beyond U+FFFF: a high one followed by a low one.
constexpr bool isHighSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}
constexpr bool isLowSurrogate(char16_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The ASCII letters a to z upper-cased; every other code unit as it is, so that no locale
// can change how the gateway reads a name or a marker.
constexpr char16_t asciiUpper(char16_t c)
{
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// Lone surrogates become U+FFFD.
std::string toUtf8(TextView text);
// Malformed sequences become U+FFFD, one per offending byte.
Text fromUtf8(std::string_view utf8);

} // namespace gateway
