// The date-time conversion: reading either fails (and the conversion throws its conversion
// error) or gives a real calendar date-time whose date field is ten digits.

#include "FuzzCheck.h"
#include "gateway/base/Errors.h"
#include "gateway/protocol/DateTimeConversion.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

using namespace gateway;

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool isCalendarDate(const DateTime& value)
{
    static constexpr int daysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (value.year < 1 || value.year > 9999 || value.month < 1 || value.month > 12 ||
        value.day < 1) {
        return false;
    }
    return value.day <= daysInMonth[value.month - 1] + (value.month == 2 && isLeapYear(value.year));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    // The first byte picks the current year, which completes short and month-day dates.
    const int currentYear = 1950 + data[0];
    const Text text = fromUtf8(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

    const auto value = readDateTime(text, currentYear);
    bool threw = false;
    Text field;
    try {
        field = convertDateTime(text, currentYear);
    } catch (const EConvertError& error) {
        threw = true;
        // what() ends at the first NUL, so only a text without one shows the whole pattern.
        FUZZ_CHECK(text.find(u'\0') != Text::npos ||
                   std::string_view(error.what()).ends_with("' is not a valid date and time"));
    }
    FUZZ_CHECK(threw == !value.has_value());
    if (!value) {
        return 0;
    }
    FUZZ_CHECK(isCalendarDate(*value));
    FUZZ_CHECK(value->hour >= 0 && value->hour <= 23);
    FUZZ_CHECK(value->minute >= 0 && value->minute <= 59);
    FUZZ_CHECK(value->second >= 0 && value->second <= 59);
    FUZZ_CHECK(field == writeDateField(*value));
    FUZZ_CHECK(field.size() == 10);
    for (char16_t c : field) {
        FUZZ_CHECK(c >= u'0' && c <= u'9');
    }
    // Reading does not depend on anything but the text and the year.
    FUZZ_CHECK(readDateTime(text, currentYear) == value);
    return 0;
}
