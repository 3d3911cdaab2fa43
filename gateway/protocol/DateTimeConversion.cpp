#include "gateway/protocol/DateTimeConversion.h"

#include "gateway/base/Errors.h"

#include <ctime>

namespace gateway {

namespace {

// The reading settings are fixed so that a request reads the same on every workstation,
// whatever its locale.
constexpr char16_t blank = u' ';
constexpr char16_t dateSeparator = u'-';
constexpr char16_t timeSeparator = u':';

// Day zero of the date-time scale: a time read without a date lands on it.
constexpr DateTime dayZero{1899, 12, 30, 0, 0, 0};

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}
bool isLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool isValidDate(int year, int month, int day)
{
    static constexpr int daysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) {
        return false;
    }
    int last = daysInMonth[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
    return day <= last;
}

struct Number
{
    int value = 0;
    int digitCount = 0; // leading zeros included: they decide whether a year is short
};

struct TimeOfDay
{
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class Scanner
{
public:
    Scanner(TextView text, std::size_t position) : m_text(text), m_position(position) {}

    std::size_t position() const { return m_position; }
    bool atEnd() const { return m_position >= m_text.size(); }

    void skipBlanks()
    {
        while (!atEnd() && m_text[m_position] == blank) {
            ++m_position;
        }
    }

    // Digits are taken while the value so far is below 1000, so a number has at most four
    // significant digits and a further digit is left for the caller to stumble on.
    std::optional<Number> readNumber()
    {
        skipBlanks();
        Number number;
        while (!atEnd() && isDigit(m_text[m_position]) && number.value < 1000) {
            number.value = number.value * 10 + (m_text[m_position] - u'0');
            ++number.digitCount;
            ++m_position;
        }
        if (number.digitCount == 0) {
            return std::nullopt;
        }
        return number;
    }

    // Blanks may stand before a separator; nothing is consumed when it is not there.
    bool readSeparator(char16_t separator)
    {
        std::size_t start = m_position;
        skipBlanks();
        if (!atEnd() && m_text[m_position] == separator) {
            ++m_position;
            return true;
        }
        m_position = start;
        return false;
    }

    // "AM" gives base hour 0, "PM" 12, in any letter case; nothing is consumed otherwise.
    std::optional<int> readMarker()
    {
        std::size_t start = m_position;
        skipBlanks();
        if (m_position + 2 <= m_text.size() && asciiUpper(m_text[m_position + 1]) == u'M') {
            char16_t first = asciiUpper(m_text[m_position]);
            if (first == u'A' || first == u'P') {
                m_position += 2;
                return first == u'A' ? 0 : 12;
            }
        }
        m_position = start;
        return std::nullopt;
    }

private:
    TextView m_text;
    std::size_t m_position;
};

// year-month-day, or month-day of currentYear when only two numbers stand before the time.
std::optional<DateTime> readDate(Scanner& scanner, int currentYear)
{
    auto first = scanner.readNumber();
    if (!first || !scanner.readSeparator(dateSeparator)) {
        return std::nullopt;
    }
    auto second = scanner.readNumber();
    if (!second) {
        return std::nullopt;
    }
    DateTime date;
    // A separator after the second number promises a third: "07-16-" is no month-day date.
    if (scanner.readSeparator(dateSeparator)) {
        auto third = scanner.readNumber();
        if (!third) {
            return std::nullopt;
        }
        date.year = first->value;
        if (first->digitCount <= 2) {
            date.year += currentYear / 100 * 100;
        }
        date.month = second->value;
        date.day = third->value;
        scanner.readSeparator(dateSeparator); // a "-" may close the date
    } else {
        date.year = currentYear;
        date.month = first->value;
        date.day = second->value;
    }
    if (!isValidDate(date.year, date.month, date.day)) {
        return std::nullopt;
    }
    return date;
}

// hour[:minute[:second]] with an optional marker before or after it; a ":" promises a number.
std::optional<TimeOfDay> readTime(Scanner& scanner)
{
    std::optional<int> baseHour = scanner.readMarker();
    auto hour = scanner.readNumber();
    if (!hour) {
        return std::nullopt;
    }
    TimeOfDay time{hour->value, 0, 0};
    if (scanner.readSeparator(timeSeparator)) {
        auto minute = scanner.readNumber();
        if (!minute) {
            return std::nullopt;
        }
        time.minute = minute->value;
        if (scanner.readSeparator(timeSeparator)) {
            auto second = scanner.readNumber();
            if (!second) {
                return std::nullopt;
            }
            time.second = second->value;
        }
    }
    if (!baseHour) {
        baseHour = scanner.readMarker();
    }
    if (baseHour) {
        if (time.hour < 1 || time.hour > 12) {
            return std::nullopt;
        }
        time.hour = time.hour % 12 + *baseHour;
    }
    if (time.hour > 23 || time.minute > 59 || time.second > 59) {
        return std::nullopt;
    }
    return time;
}

// Where the time after a date starts: at a marker that stands just before its first digit,
// else at the digit. The marker must be a word of its own, so the "AM" of "SPAM" is no marker.
std::size_t timeStart(TextView text, std::size_t dateEnd, std::size_t digit)
{
    std::size_t end = digit;
    while (end > dateEnd && text[end - 1] == blank) {
        --end;
    }
    if (end < dateEnd + 2) {
        return digit;
    }
    std::size_t marker = end - 2;
    if (marker > 0 && isLetter(text[marker - 1])) {
        return digit;
    }
    Scanner scanner(text, marker);
    return scanner.readMarker() ? marker : digit;
}

std::size_t findDigit(TextView text, std::size_t from)
{
    while (from < text.size() && !isDigit(text[from])) {
        ++from;
    }
    return from;
}

std::optional<DateTime> readTimeAlone(TextView text)
{
    Scanner scanner(text, 0);
    auto time = readTime(scanner);
    if (!time) {
        return std::nullopt;
    }
    scanner.skipBlanks();
    if (!scanner.atEnd()) {
        return std::nullopt;
    }
    DateTime value = dayZero;
    value.hour = time->hour;
    value.minute = time->minute;
    value.second = time->second;
    return value;
}

void appendTwoDigits(Text& out, int value)
{
    out += static_cast<char16_t>(u'0' + value / 10 % 10);
    out += static_cast<char16_t>(u'0' + value % 10);
}

} // namespace

std::optional<DateTime> readDateTime(TextView text, int currentYear)
{
    Scanner scanner(text, findDigit(text, 0));
    auto date = readDate(scanner, currentYear);
    if (!date) {
        return readTimeAlone(text);
    }
    std::size_t dateEnd = scanner.position();
    std::size_t digit = findDigit(text, dateEnd);
    // A lone digit closing the text is not taken for an hour.
    if (digit + 1 >= text.size()) {
        return date;
    }
    Scanner timeScanner(text, timeStart(text, dateEnd, digit));
    auto time = readTime(timeScanner);
    if (!time) {
        return std::nullopt;
    }
    date->hour = time->hour;
    date->minute = time->minute;
    date->second = time->second;
    return date;
}

Text writeDateField(const DateTime& value)
{
    Text field;
    field.reserve(10);
    appendTwoDigits(field, value.month);
    appendTwoDigits(field, value.day);
    appendTwoDigits(field, value.year % 100);
    appendTwoDigits(field, value.hour);
    appendTwoDigits(field, value.minute);
    return field;
}

Text convertDateTime(TextView text, int currentYear)
{
    auto value = readDateTime(text, currentYear);
    if (!value) {
        throw EConvertError("'" + toUtf8(text) + "' is not a valid date and time");
    }
    return writeDateField(*value);
}

} // namespace gateway
