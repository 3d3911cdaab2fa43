// The room number: whatever the room field holds, reading gives a 32-bit number or the
// conversion error naming the trimmed text. Plain decimal and hexadecimal texts are checked
// against the standard library's reading of the same digits.

#include "FuzzCheck.h"
#include "gateway/base/Errors.h"
#include "gateway/protocol/RoomNumber.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace gateway;

// The value the text must read as when it is one of the simple forms (sign, optional
// prefix, digits of one base); nullopt when it is no simple form and nothing is expected.
// An out-of-range simple form expects a failure, reported as a value beyond 32 bits.
std::optional<std::int64_t> referenceValue(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    } else if (!text.empty() &&
               (text.front() == '$' || text.front() == 'x' || text.front() == 'X')) {
        base = 16;
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 40) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (stop != end) {
        return std::nullopt; // not digits of the base throughout: no simple form
    }
    const std::int64_t outOfRange = std::int64_t(1) << 40;
    if (error != std::errc()) {
        return outOfRange;
    }
    if (base == 16) {
        if (value > 0xFFFFFFFFull) {
            return outOfRange;
        }
        // A 32-bit pattern, negated in two's complement.
        auto pattern = static_cast<std::uint32_t>(value);
        if (negative) {
            pattern = 0u - pattern;
        }
        return static_cast<std::int32_t>(pattern);
    }
    const unsigned long long limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
    if (value > limit) {
        return outOfRange;
    }
    return negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Text field = fromUtf8(bytes);
    std::optional<std::int32_t> number;
    try {
        number = readRoomNumber(field);
    } catch (const EConvertError& error) {
        // what() ends at the first NUL, so only a text without one shows the whole pattern.
        const std::string_view message(error.what());
        FUZZ_CHECK(message.starts_with("'"));
        FUZZ_CHECK(bytes.find('\0') != std::string_view::npos ||
                   message.ends_with("' is not a valid integer value"));
    }

    bool ascii = true;
    for (char c : bytes) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (!ascii) {
        return 0;
    }
    if (const auto expected = referenceValue(trimmed(bytes))) {
        if (*expected >= INT32_MIN && *expected <= INT32_MAX) {
            FUZZ_CHECK(number.has_value() && *number == *expected);
        } else {
            FUZZ_CHECK(!number.has_value());
        }
    }
    return 0;
}
