#include "gateway/base/MonthlyRollover.h"

#include <cstdio>

namespace gateway {

namespace {

// "-2026-11": what goes between a name's stem and its extension.
constexpr std::size_t monthPartSize = 8;

std::size_t nameStart(std::string_view path)
{
    const std::size_t separator = path.find_last_of("/\\");
    return separator == std::string_view::npos ? 0 : separator + 1;
}

// A bare file name as its stem and its extension (from its last dot on; none for a leading dot
// alone, as in ".profile").
struct NameParts
{
    std::string_view stem;
    std::string_view extension;
};

NameParts partsOf(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {name, {}};
    }
    return {name.substr(0, dot), name.substr(dot)};
}

std::optional<int> digits(std::string_view text)
{
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

Month monthOf(const LocalTime& time)
{
    return {time.year, time.month};
}

int monthsBetween(Month earlier, Month later)
{
    return (later.year - earlier.year) * 12 + (later.month - earlier.month);
}

std::string folderOf(std::string_view path)
{
    return std::string(path.substr(0, nameStart(path)));
}

std::string monthAsideName(std::string_view path, Month month)
{
    const NameParts parts = partsOf(path.substr(nameStart(path)));
    char monthPart[24];
    std::snprintf(monthPart, sizeof monthPart, "-%04d-%02d", month.year, month.month);
    return folderOf(path) + std::string(parts.stem) + monthPart + std::string(parts.extension);
}

std::optional<Month> asideMonth(std::string_view path, std::string_view name)
{
    const NameParts parts = partsOf(path.substr(nameStart(path)));
    if (name.size() != parts.stem.size() + monthPartSize + parts.extension.size() ||
        name.substr(0, parts.stem.size()) != parts.stem ||
        name.substr(name.size() - parts.extension.size()) != parts.extension) {
        return std::nullopt;
    }
    const std::string_view monthPart = name.substr(parts.stem.size(), monthPartSize);
    if (monthPart[0] != '-' || monthPart[5] != '-') {
        return std::nullopt;
    }
    const std::optional<int> year = digits(monthPart.substr(1, 4));
    const std::optional<int> month = digits(monthPart.substr(6, 2));
    if (!year || !month || *month < 1 || *month > 12) {
        return std::nullopt;
    }
    return Month{*year, *month};
}

std::vector<std::string> expiredAsideNames(std::string_view path,
                                           const std::vector<std::string>& names, Month current,
                                           int keepMonths)
{
    std::vector<std::string> expired;
    if (keepMonths <= 0) {
        return expired;
    }
    for (const std::string& name : names) {
        const std::optional<Month> month = asideMonth(path, name);
        if (month && monthsBetween(*month, current) > keepMonths) {
            expired.push_back(name);
        }
    }
    return expired;
}

bool startsNewMonth(std::optional<Month> fileMonth, Month lineMonth)
{
    return fileMonth && *fileMonth < lineMonth;
}

} // namespace gateway
