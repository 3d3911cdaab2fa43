// The rules of a file that rolls over monthly by itself: the name a month is moved aside to, which
// names are months of that file, which of them are past keeping, and which line starts a month.

#include "gateway/base/MonthlyRollover.h"

#include <gtest/gtest.h>

using namespace gateway;

TEST(MonthlyRollover, MovesAMonthAsideWithTheMonthBeforeTheExtension)
{
    struct Case
    {
        const char* path;
        Month month;
        const char* aside;
    } cases[] = {
        {"velmor_sndd.log", {2026, 11}, "velmor_sndd-2026-11.log"},
        {"keys.jsonl", {2026, 11}, "keys-2026-11.jsonl"},
        {"C:\\ProgramData\\velmor_sndd\\keys.jsonl",
         {2027, 1},
         "C:\\ProgramData\\velmor_sndd\\keys-2027-01.jsonl"},
        {"C:/logs\\velmor.log", {2026, 9}, "C:/logs\\velmor-2026-09.log"},
        // No extension: the month at the end; a dot in a folder is no extension.
        {"records", {2026, 11}, "records-2026-11"},
        {"/var/log/velmor.d/records", {2026, 11}, "/var/log/velmor.d/records-2026-11"},
        {"C:\\velmor.d\\records", {2026, 11}, "C:\\velmor.d\\records-2026-11"},
        // A leading dot alone is no extension; of several, the last one is.
        {".keys", {2026, 11}, ".keys-2026-11"},
        {"keys.2026.jsonl", {2026, 11}, "keys.2026-2026-11.jsonl"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(monthAsideName(c.path, c.month), c.aside);
        const std::string aside = c.aside;
        const std::string name = aside.substr(folderOf(aside).size());
        EXPECT_EQ(asideMonth(c.path, name), c.month) << "the name it gives is one of its months";
    }
}

TEST(MonthlyRollover, KnowsItsOwnMonthsAmongOtherNames)
{
    struct Case
    {
        const char* path;
        const char* name;
        std::optional<Month> month;
    } cases[] = {
        {"C:\\logs\\keys.jsonl", "keys-2026-11.jsonl", Month{2026, 11}},
        {"C:\\logs\\keys.jsonl", "keys-1999-12.jsonl", Month{1999, 12}},
        {"C:\\logs\\keys.jsonl", "keys.jsonl", std::nullopt}, // the current file itself
        {"C:\\logs\\keys.jsonl", "keys-2026-13.jsonl", std::nullopt},
        {"C:\\logs\\keys.jsonl", "keys-2026-00.jsonl", std::nullopt},
        {"C:\\logs\\keys.jsonl", "keys-2026-1.jsonl", std::nullopt},
        {"C:\\logs\\keys.jsonl", "keys-2o26-11.jsonl", std::nullopt},
        {"C:\\logs\\keys.jsonl", "keys_2026_11.jsonl", std::nullopt},
        {"C:\\logs\\keys.jsonl", "keys-2026-11.jsonl.gz", std::nullopt},
        {"C:\\logs\\keys.jsonl", "keys-2026-11.json", std::nullopt},
        {"C:\\logs\\keys.jsonl", "keys-2026-11-copy.jsonl", std::nullopt},
        {"C:\\logs\\keys.jsonl", "old-keys-2026-11.jsonl", std::nullopt},
        {"C:\\logs\\keys.jsonl", "velmor_sndd-2026-11.log", std::nullopt},
        {"records", "records-2026-11", Month{2026, 11}},
        {"records", "records-2026-11.log", std::nullopt},
        {"records", "records-2026-11-2026-10", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.name);
        EXPECT_EQ(asideMonth(c.path, c.name), c.month);
    }
}

TEST(MonthlyRollover, RemovesOnlyItsOwnMonthsOlderThanTheKeptOnes)
{
    // At the change to December 2026: November is one month before, December 2024 the 24th.
    const std::vector<std::string> names = {
        "keys.jsonl",          "keys-2026-11.jsonl",     "keys-2024-12.jsonl",
        "keys-2024-11.jsonl",  "keys-2019-01.jsonl",     "velmor_sndd-2019-01.log",
        "notes-2019-01.jsonl", "keys-2019-01.jsonl.bak", "keys-2026-12.jsonl",
    };
    struct Case
    {
        int keepMonths;
        std::vector<std::string> expired;
    } cases[] = {
        {24, {"keys-2024-11.jsonl", "keys-2019-01.jsonl"}},
        {25, {"keys-2019-01.jsonl"}},
        {1, {"keys-2024-12.jsonl", "keys-2024-11.jsonl", "keys-2019-01.jsonl"}},
        {0, {}}, // all kept
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keepMonths);
        EXPECT_EQ(expiredAsideNames("D:\\records\\keys.jsonl", names, {2026, 12}, c.keepMonths),
                  c.expired);
    }
}

TEST(MonthlyRollover, TheFirstLineOfALaterMonthStartsANewFile)
{
    struct Case
    {
        std::optional<Month> fileMonth;
        LocalTime line;
        bool startsNew;
    } cases[] = {
        {Month{2026, 11}, {2026, 11, 30, 23, 59, 59, 999, 60}, false},
        {Month{2026, 11}, {2026, 12, 1, 0, 0, 0, 0, 60}, true},
        {Month{2026, 12}, {2027, 1, 1, 0, 0, 0, 0, -330}, true},
        // A start months later: the file's last write decides its month.
        {Month{2026, 3}, {2026, 12, 15, 10, 0, 0, 0, 0}, true},
        {Month{2025, 12}, {2026, 12, 1, 0, 0, 0, 0, 0}, true},
        // A clock set back keeps its file, and an empty file has no month to move aside.
        {Month{2027, 1}, {2026, 12, 31, 23, 0, 0, 0, 0}, false},
        {std::nullopt, {2026, 12, 1, 0, 0, 0, 0, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(isoTimestamp(c.line));
        EXPECT_EQ(startsNewMonth(c.fileMonth, monthOf(c.line)), c.startsNew);
    }
}

TEST(MonthlyRollover, CountsMonthsAcrossYears)
{
    struct Case
    {
        Month earlier;
        Month later;
        int months;
    } cases[] = {
        {{2026, 11}, {2026, 12}, 1},  {{2026, 12}, {2027, 1}, 1},  {{2024, 12}, {2026, 12}, 24},
        {{2024, 11}, {2026, 12}, 25}, {{2027, 1}, {2026, 12}, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(monthsBetween(c.earlier, c.later), c.months);
    }
}
