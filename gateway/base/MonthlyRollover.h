#pragma once

#include "gateway/base/Timestamp.h"

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The rules of a file that rolls over monthly by itself (where no logrotate does it): the file
// of the configured name always holds the current month, each month before it is moved aside
// under a name with its month, and those older than a number of months are removed.
namespace gateway {

struct Month
{
    int year = 1970;
    int month = 1; // 1 to 12

    auto operator<=>(const Month&) const = default;
};

Month monthOf(const LocalTime& time);

// How many months later is than earlier (negative when it is before).
int monthsBetween(Month earlier, Month later);

// Where a month's lines are moved aside to, in the same folder: "logs/velmor_sndd.log" and
// 2026-11 give "logs/velmor_sndd-2026-11.log", "keys.jsonl" gives "keys-2026-11.jsonl", a name
// without an extension (or only a leading dot) gets "-2026-11" at its end. Folders may be
// separated by / or \ (Windows takes both).
std::string monthAsideName(std::string_view path, Month month);

// The folder part of path, "" for a name alone ("C:\logs\" keeps its separator, "/" too).
std::string folderOf(std::string_view path);

// The month of a bare file name in path's folder that monthAsideName(path, month) would give;
// none for any other name.
std::optional<Month> asideMonth(std::string_view path, std::string_view name);

// Of the bare file names in path's folder, those moved aside for a month more than keepMonths
// before current, in the order given; 0 keeps every month.
std::vector<std::string> expiredAsideNames(std::string_view path,
                                           const std::vector<std::string>& names, Month current,
                                           int keepMonths);

// Whether a line written in lineMonth begins a new file: the file's lines are of an earlier
// month. A file without lines (none) has no month yet; a clock set back keeps its file.
bool startsNewMonth(std::optional<Month> fileMonth, Month lineMonth);

} // namespace gateway
