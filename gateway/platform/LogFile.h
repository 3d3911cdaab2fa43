#pragma once

#include "gateway/base/MonthlyRollover.h"
#include "gateway/base/Settings.h"
#include "gateway/platform/AppendHandle.h"
#include "gateway/platform/SocketPlatform.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gateway {

// True where no log rotation of the system moves the programs' files aside (Windows): there a
// LogFile rolls over monthly by itself. Where it is false, logrotate does it and SIGHUP reopens.
bool rollsOverMonthlyHere();

// Where a LogFile takes its time from, and whether and how it rolls over by itself.
struct LogFileOptions
{
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // The moment each line is written at: its stamp (appendStamped) and the month it goes to.
    Clock clock = [] { return std::chrono::system_clock::now(); };
    // The first line of a new month (local time) moves the file aside with its month in the
    // name (velmor_sndd-2026-11.log) and begins a new one of the same name; so does the first
    // line after a start in a later month than the file's last write.
    bool monthly = rollsOverMonthlyHere();
    // When rolling over, month files more than this many months old are removed; 0 keeps them
    // all.
    int keepMonths = settings::keepMonths;
    // Told of a rollover that failed (the lines go on into the file they went to, and the move
    // is tried again a minute later) or an old month's file that could not be removed. Called
    // outside the file's lock: it may append to this very file.
    std::function<void(const std::string& line)> trouble;
};

// A file that records are appended to (the log, the key record), one write each, so that lines
// from several threads never mix, and each goes whole into one file, also across a rollover.
// Created readable by its owner and group only (0640 on POSIX systems). reopen() starts on a
// file of the same name, as log rotation expects after moving the old one away.
class LogFile
{
public:
    // Throws std::runtime_error naming the file (as what, "log file" by default) and the
    // system's reason.
    explicit LogFile(std::string path, const std::string& what = "log file",
                     LogFileOptions options = {});
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // The record and a line end in one write; the system's reason when it could not be written
    // in whole (a full disk), empty when it was.
    std::string append(std::string_view record);
    // As append, the line starting with the local time of its moment (ISO 8601, as
    // "2026-12-10T19:45:02.123+01:00 text"), the same moment that decides its month.
    std::string appendStamped(std::string_view text);
    // Several lines in one write, each stamped with the same moment and all in one file.
    std::string appendStamped(std::span<const std::string> texts);
    // Keeps writing to the old file when the new one cannot be opened; the reason is returned
    // (empty when it worked).
    std::string reopen();
    const std::string& path() const { return m_path; }

private:
    std::string write(std::span<const std::string_view> texts, bool stamped);
    // Before a line of lineMonth: the file moved aside and a new one begun when the month has
    // changed; what went wrong, if anything.
    std::vector<std::string> rollOverFor(Month lineMonth,
                                         std::chrono::system_clock::time_point moment);
    std::vector<std::string> removeExpired(Month current);
    // The month of the lines in the file of the configured name: of its last write, none while
    // it holds nothing.
    std::optional<Month> monthOfFile() const;

    const std::string m_path;
    const std::string m_what;
    const LogFileOptions m_options;
    std::mutex m_mutex;
    AppendHandle m_handle;
    std::optional<Month> m_fileMonth;
    // Moved aside, but the new file could not be opened yet: lines go on into the moved one.
    bool m_movedAside = false;
    std::optional<std::chrono::system_clock::time_point> m_failedRollover;
};

// SIGHUP, where the system has it, as a wake signal that each reopen lowers again.
class ReopenRequest
{
public:
    ReopenRequest();
    ~ReopenRequest();
    ReopenRequest(const ReopenRequest&) = delete;
    ReopenRequest& operator=(const ReopenRequest&) = delete;

    WakeSignal& signal() { return m_signal; }

private:
    WakeSignal m_signal;
};

} // namespace gateway
