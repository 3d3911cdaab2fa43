// A file that rolls over by itself, moved across month ends by its clock: each month's lines in
// the file named for that month, every line whole in exactly one file, also with several
// threads writing, the months past keeping removed and other files left alone; a move that
// fails loses nothing and is told.

#include "gateway/base/MonthlyRollover.h"
#include "gateway/platform/LocalClock.h"
#include "gateway/platform/LogFile.h"
#include "gateway/platform/ProcessFacts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

using namespace gateway;
using namespace std::chrono;
namespace fs = std::filesystem;

namespace {

// Noon UTC on a day: the same calendar day, and so month, in every time zone from -11:00 to
// +11:00.
system_clock::time_point noon(int year, unsigned month, unsigned day)
{
    return sys_days{std::chrono::year{year} / std::chrono::month{month} / std::chrono::day{day}} +
           12h;
}

std::string utf8(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A clock a test sets, read by the file's writing threads.
class TestClock
{
public:
    explicit TestClock(system_clock::time_point start) : m_now(start.time_since_epoch().count()) {}
    void set(system_clock::time_point moment) { m_now = moment.time_since_epoch().count(); }
    LogFileOptions::Clock function()
    {
        return [this] { return system_clock::time_point(system_clock::duration(m_now.load())); };
    }

private:
    std::atomic<system_clock::rep> m_now;
};

class LogFileRollover : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::random_device random;
        folder = fs::temp_directory_path() /
                 ("velmor-rollover-" + std::to_string(random()) + std::to_string(random()));
        fs::create_directories(folder);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    std::string pathOf(const std::string& name) const { return utf8(folder / name); }

    LogFileOptions monthly(LogFileOptions::Clock clock, int keepMonths = 24)
    {
        LogFileOptions options;
        options.clock = std::move(clock);
        options.monthly = true;
        options.keepMonths = keepMonths;
        options.trouble = [this](const std::string& line) {
            std::lock_guard lock(m_troublesMutex);
            m_troubles.push_back(line);
        };
        return options;
    }

    std::vector<std::string> troubles()
    {
        std::lock_guard lock(m_troublesMutex);
        return m_troubles;
    }

    void write(const std::string& name, const std::string& text) const
    {
        std::ofstream(folder / name, std::ios::binary) << text;
    }

    std::string read(const std::string& name) const
    {
        std::ifstream file(folder / name, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::set<std::string> names() const
    {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder)) {
            found.insert(utf8(entry.path().filename()));
        }
        return found;
    }

    fs::path folder;

private:
    std::mutex m_troublesMutex;
    std::vector<std::string> m_troubles;
};

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace

TEST_F(LogFileRollover, TheFirstLineOfAMonthMovesTheOldOneAsideAndRemovesThosePastKeeping)
{
    struct Case
    {
        const char* name;
        const char* november;
        const char* oldest; // of its own months, past keeping at December 2026 with 24 kept
        int keepMonths;
        bool removed;
    } cases[] = {
        {"velmor_sndd.log", "velmor_sndd-2026-11.log", "velmor_sndd-2024-11.log", 24, true},
        {"keys.jsonl", "keys-2026-11.jsonl", "keys-2019-01.jsonl", 24, true},
        {"records", "records-2026-11", "records-2024-11", 24, true},
        {"keys.jsonl", "keys-2026-11.jsonl", "keys-2019-01.jsonl", 0, false}, // 0 keeps all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " keeping " + std::to_string(c.keepMonths));
        fs::remove_all(folder);
        fs::create_directories(folder);
        // Months of its own still kept, another file's old months and other files.
        const std::string kept = monthAsideName(c.name, {2024, 12});
        const std::set<std::string> others = {kept, "other-2019-01.jsonl", "velmor-2019-01.log",
                                              "notes.txt", std::string(c.name) + ".bak"};
        for (const std::string& other : others) {
            write(other, "not for the file\n");
        }
        write(c.oldest, "long gone\n");
        TestClock clock(noon(2026, 11, 29));
        {
            LogFile file(pathOf(c.name), "key record", monthly(clock.function(), c.keepMonths));
            EXPECT_EQ(file.append("november 1"), "");
            clock.set(noon(2026, 11, 30));
            EXPECT_EQ(file.append("november 2"), "");
            clock.set(noon(2026, 12, 1));
            EXPECT_EQ(file.append("december 1"), "");
            EXPECT_EQ(file.append("december 2"), "");
        }
        EXPECT_EQ(read(c.november), "november 1\nnovember 2\n");
        EXPECT_EQ(read(c.name), "december 1\ndecember 2\n");
        std::set<std::string> expected = others;
        expected.insert({c.name, c.november});
        if (!c.removed) {
            expected.insert(c.oldest);
        }
        EXPECT_EQ(names(), expected);
        for (const std::string& other : others) {
            EXPECT_EQ(read(other), "not for the file\n") << other;
        }
        EXPECT_EQ(troubles(), std::vector<std::string>{});
    }
}

TEST_F(LogFileRollover, ThreadsWritingAcrossTheMonthEndLoseAndSplitNothing)
{
    // The clock turns to December after a number of readings, while every thread writes: the
    // lines stamped in November are the moved file's, those stamped in December the new one's.
    constexpr int threads = 8;
    constexpr int linesEach = 400;
    constexpr int novemberLines = threads * linesEach / 2;
    std::atomic<int> readings{0};
    LogFileOptions options = monthly([&readings] {
        return readings++ < novemberLines ? noon(2026, 11, 30) : noon(2026, 12, 1);
    });
    // Long lines, so that a write split in two would show.
    const std::string filler(3000, 'x');
    std::atomic<int> failedWrites{0};
    {
        LogFile file(pathOf("velmor_sndd.log"), "log file", std::move(options));
        std::vector<std::thread> writers;
        for (int t = 0; t < threads; ++t) {
            writers.emplace_back([&file, &filler, &failedWrites, t] {
                for (int i = 0; i < linesEach; ++i) {
                    if (!file.appendStamped(std::to_string(t) + " " + std::to_string(i) + " " +
                                            filler + " end")
                             .empty()) {
                        ++failedWrites;
                    }
                }
            });
        }
        for (std::thread& writer : writers) {
            writer.join();
        }
    }
    EXPECT_EQ(failedWrites, 0);
    EXPECT_EQ(names(), (std::set<std::string>{"velmor_sndd.log", "velmor_sndd-2026-11.log"}));
    const std::string novemberStamp = isoTimestamp(localTimeAt(noon(2026, 11, 30))).substr(0, 10);
    const std::string decemberStamp = isoTimestamp(localTimeAt(noon(2026, 12, 1))).substr(0, 10);
    std::map<std::string, int> seen;
    const struct
    {
        const char* name;
        const std::string& stamp;
        int count;
    } files[] = {
        {"velmor_sndd-2026-11.log", novemberStamp, novemberLines},
        {"velmor_sndd.log", decemberStamp, threads * linesEach - novemberLines},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const std::vector<std::string> lines = linesOf(read(f.name));
        EXPECT_EQ(static_cast<int>(lines.size()), f.count);
        for (const std::string& line : lines) {
            // "2026-11-30T12:00:00.000+00:00 3 17 xxx… end"
            const std::size_t stampEnd = line.find(' ');
            ASSERT_NE(stampEnd, std::string::npos) << line;
            ASSERT_EQ(line.substr(0, 10), f.stamp) << "a line in another month's file";
            ASSERT_TRUE(line.ends_with(" " + filler + " end")) << "a line split or mixed";
            const std::string who =
                line.substr(stampEnd + 1, line.size() - stampEnd - 1 - filler.size() - 5);
            ++seen[who];
        }
    }
    ASSERT_EQ(static_cast<int>(seen.size()), threads * linesEach) << "lines lost";
    for (const auto& [who, count] : seen) {
        ASSERT_EQ(count, 1) << who << " written more than once";
    }
}

TEST_F(LogFileRollover, AStartInALaterMonthMovesTheFileAsideWithItsLastWritesMonth)
{
    struct Case
    {
        const char* existing; // the file's lines before the start
        system_clock::time_point lastWrite;
        std::set<std::string> names;
        const char* current; // the file of the configured name after one line
    } cases[] = {
        // Stopped in October, started in December: October's lines under October's name.
        {"october\n",
         noon(2026, 10, 20),
         {"velmor_sndd.log", "velmor_sndd-2026-10.log"},
         "december\n"},
        // Restarted within the month: the same file goes on.
        {"december before\n",
         noon(2026, 12, 2),
         {"velmor_sndd.log"},
         "december before\ndecember\n"},
        // An empty file has no month to move aside.
        {"", noon(2026, 10, 20), {"velmor_sndd.log"}, "december\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.existing);
        fs::remove_all(folder);
        fs::create_directories(folder);
        write("velmor_sndd.log", c.existing);
        fs::last_write_time(folder / "velmor_sndd.log",
                            fs::file_time_type::clock::from_sys(c.lastWrite));
        TestClock clock(noon(2026, 12, 15));
        {
            LogFile file(pathOf("velmor_sndd.log"), "log file", monthly(clock.function()));
            EXPECT_EQ(file.append("december"), "");
        }
        EXPECT_EQ(names(), c.names);
        EXPECT_EQ(read("velmor_sndd.log"), c.current);
        if (c.names.size() > 1) {
            EXPECT_EQ(read("velmor_sndd-2026-10.log"), c.existing);
        }
    }
}

TEST_F(LogFileRollover, AMoveThatFailsKeepsEveryLineAndIsToldOnceAMinute)
{
    // The month's name is taken (left there by hand): the file is neither replaced nor lost.
    write("keys-2026-11.jsonl", "someone's own\n");
    TestClock clock(noon(2026, 11, 30));
    LogFile file(pathOf("keys.jsonl"), "key record", monthly(clock.function()));
    EXPECT_EQ(file.append("november"), "");
    const auto december = noon(2026, 12, 1);
    clock.set(december);
    EXPECT_EQ(file.append("december 1"), "");
    ASSERT_EQ(troubles().size(), 1u);
    EXPECT_NE(troubles()[0].find("cannot move the key record " + pathOf("keys.jsonl") +
                                 " aside to " + pathOf("keys-2026-11.jsonl") + ": "),
              std::string::npos)
        << troubles()[0];
    clock.set(december + 59s);
    EXPECT_EQ(file.append("december 2"), "");
    EXPECT_EQ(troubles().size(), 1u) << "tried again within the minute";
    EXPECT_EQ(read("keys.jsonl"), "november\ndecember 1\ndecember 2\n");
    EXPECT_EQ(read("keys-2026-11.jsonl"), "someone's own\n");

    // Once the name is free, the next try a minute later moves the file aside.
    fs::remove(folder / "keys-2026-11.jsonl");
    clock.set(december + 61s);
    EXPECT_EQ(file.append("december 3"), "");
    EXPECT_EQ(troubles().size(), 1u);
    EXPECT_EQ(read("keys-2026-11.jsonl"), "november\ndecember 1\ndecember 2\n");
    EXPECT_EQ(read("keys.jsonl"), "december 3\n");
}

TEST_F(LogFileRollover, AReaderHoldingTheFileOnWindowsDelaysTheMoveAndLosesNothing)
{
    TestClock clock(noon(2026, 11, 30));
    LogFile file(pathOf("velmor_sndd.log"), "log file", monthly(clock.function()));
    EXPECT_EQ(file.append("november"), "");
    const auto december = noon(2026, 12, 1);
    {
        // The C runtime's streams open files on Windows without sharing their deletion, as many
        // viewers do; POSIX systems move a file that is open.
        std::ifstream reader(folder / "velmor_sndd.log", std::ios::binary);
        ASSERT_TRUE(reader.is_open());
        clock.set(december);
        EXPECT_EQ(file.append("december 1"), "");
        if (!windowsSystem()) {
            EXPECT_EQ(troubles(), std::vector<std::string>{});
            EXPECT_EQ(read("velmor_sndd-2026-11.log"), "november\n");
            return;
        }
        ASSERT_EQ(troubles().size(), 1u);
        EXPECT_NE(troubles()[0].find("cannot move the log file"), std::string::npos)
            << troubles()[0];
        EXPECT_EQ(read("velmor_sndd.log"), "november\ndecember 1\n");
    }
    clock.set(december + 1min);
    EXPECT_EQ(file.append("december 2"), "");
    EXPECT_EQ(troubles().size(), 1u);
    EXPECT_EQ(read("velmor_sndd-2026-11.log"), "november\ndecember 1\n");
    EXPECT_EQ(read("velmor_sndd.log"), "december 2\n");
}

TEST_F(LogFileRollover, WithoutRolloverTheMonthsStayInOneFile)
{
    // As on Linux, where logrotate moves the files aside.
    TestClock clock(noon(2026, 11, 30));
    LogFileOptions options = monthly(clock.function());
    options.monthly = false;
    {
        LogFile file(pathOf("velmor_sndd.log"), "log file", std::move(options));
        EXPECT_EQ(file.append("november"), "");
        clock.set(noon(2026, 12, 1));
        EXPECT_EQ(file.appendStamped("december"), "");
    }
    EXPECT_EQ(names(), std::set<std::string>{"velmor_sndd.log"});
    const std::vector<std::string> lines = linesOf(read("velmor_sndd.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "november");
    EXPECT_EQ(lines[1], isoTimestamp(localTimeAt(noon(2026, 12, 1))) + " december")
        << "stamped with the file's clock";
}
