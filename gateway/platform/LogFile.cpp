#include "gateway/platform/LogFile.h"

#include "gateway/platform/FileSystem.h"
#include "gateway/platform/LocalClock.h"

#include <stdexcept>

namespace gateway {

namespace {

// A move aside that failed (a reader holding the file, the name taken) is tried again after
// this long, so that a lasting cause costs one attempt and one report a minute.
constexpr std::chrono::minutes retryRolloverAfter{1};

} // namespace

LogFile::LogFile(std::string path, const std::string& what, LogFileOptions options)
    : m_path(std::move(path)), m_what(what), m_options(std::move(options))
{
    std::string reason;
    m_handle = AppendHandle::open(m_path, reason);
    if (!m_handle.isOpen()) {
        throw std::runtime_error("cannot open the " + what + " " + m_path + ": " + reason);
    }
    if (m_options.monthly) {
        m_fileMonth = monthOfFile();
    }
}

std::string LogFile::append(std::string_view record)
{
    return write(std::span(&record, 1), false);
}

std::string LogFile::appendStamped(std::string_view text)
{
    return write(std::span(&text, 1), true);
}

std::string LogFile::appendStamped(std::span<const std::string> texts)
{
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    return write(views, true);
}

std::string LogFile::write(std::span<const std::string_view> texts, bool stamped)
{
    std::string reason;
    std::vector<std::string> troubles;
    {
        std::lock_guard lock(m_mutex);
        std::string stamp;
        if (stamped || m_options.monthly) {
            // One moment for the stamp and the month, taken under the lock, so that the lines
            // of the files follow each other in time and each month's file holds its own.
            const auto moment = m_options.clock();
            const LocalTime local = localTimeAt(moment);
            if (m_options.monthly) {
                troubles = rollOverFor(monthOf(local), moment);
            }
            if (stamped) {
                stamp = isoTimestamp(local) + " ";
            }
            if (m_options.monthly && !m_fileMonth) {
                m_fileMonth = monthOf(local);
            }
        }
        std::string lines;
        for (const std::string_view text : texts) {
            lines += stamp;
            lines.append(text);
            lines += '\n';
        }
        // A full disk loses the record, never the gateway.
        reason = m_handle.write(lines);
    }
    if (m_options.trouble) {
        for (const std::string& trouble : troubles) {
            m_options.trouble(trouble);
        }
    }
    return reason;
}

std::vector<std::string> LogFile::rollOverFor(Month lineMonth,
                                              std::chrono::system_clock::time_point moment)
{
    if (!startsNewMonth(m_fileMonth, lineMonth)) {
        return {};
    }
    if (m_failedRollover && moment >= *m_failedRollover &&
        moment - *m_failedRollover < retryRolloverAfter) {
        return {};
    }
    const std::string aside = monthAsideName(m_path, *m_fileMonth);
    if (!m_movedAside) {
        const std::string reason = moveAside(m_path, aside);
        if (!reason.empty()) {
            m_failedRollover = moment;
            return {"cannot move the " + m_what + " " + m_path + " aside to " + aside + ": " +
                    reason + "; its lines go on into it, and the move is tried again in a minute"};
        }
        m_movedAside = true;
    }
    std::string reason;
    AppendHandle fresh = AppendHandle::open(m_path, reason);
    if (!fresh.isOpen()) {
        m_failedRollover = moment;
        return {"cannot open a new " + m_what + " " + m_path +
                " after moving the old one aside to " + aside + ": " + reason +
                "; its lines go on into " + aside + ", and the new one is tried again in a minute"};
    }
    m_handle = std::move(fresh);
    m_movedAside = false;
    m_failedRollover.reset();
    m_fileMonth = lineMonth;
    return removeExpired(lineMonth);
}

std::vector<std::string> LogFile::removeExpired(Month current)
{
    if (m_options.keepMonths <= 0) {
        return {};
    }
    const std::string folder = folderOf(m_path);
    std::string reason;
    const std::vector<std::string> names = fileNamesIn(folder, reason);
    if (!reason.empty()) {
        return {"cannot look for old months of the " + m_what + " in " +
                (folder.empty() ? std::string("the working folder") : folder) + ": " + reason};
    }
    std::vector<std::string> troubles;
    for (const std::string& name :
         expiredAsideNames(m_path, names, current, m_options.keepMonths)) {
        const std::string path = folder + name;
        reason = removeFile(path);
        if (!reason.empty()) {
            troubles.push_back("cannot remove the old " + m_what + " " + path + ": " + reason);
        }
    }
    return troubles;
}

std::optional<Month> LogFile::monthOfFile() const
{
    const auto lastWrite = lastWriteOfContent(m_path);
    if (!lastWrite) {
        return std::nullopt;
    }
    return monthOf(localTimeAt(*lastWrite));
}

std::string LogFile::reopen()
{
    std::string reason;
    AppendHandle fresh = AppendHandle::open(m_path, reason);
    if (!fresh.isOpen()) {
        return reason;
    }
    std::lock_guard lock(m_mutex);
    m_handle = std::move(fresh);
    if (m_options.monthly) {
        m_fileMonth = monthOfFile();
        m_movedAside = false;
        m_failedRollover.reset();
    }
    return {};
}

} // namespace gateway
