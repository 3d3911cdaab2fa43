#pragma once

#include "gateway/base/Text.h"

#include <optional>

namespace gateway {

struct DateTime
{
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool operator==(const DateTime&) const = default;
};

// Reads a date-time text with the fixed, locale-independent reading settings
// ("yyyy-mm-dd HH:nn:ss", AM/PM). currentYear places one- and two-digit years in its century
// and completes month-day-only dates. A text with no readable date but a readable time is
// that time on 30 December 1899. nullopt when the text cannot be read.
std::optional<DateTime> readDateTime(TextView text, int currentYear);

// "mmddyyhhnn": month, day, two-digit year, 24-hour hour, minute; seconds dropped.
Text writeDateField(const DateTime& value);

// Reads and writes in one step; throws EConvertError "'<text>' is not a valid date and time".
// The caller reads the clock for currentYear, so that the rule itself stays a rule on text.
Text convertDateTime(TextView text, int currentYear);

} // namespace gateway
