#pragma once

#include "gateway/platform/SocketPlatform.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace gateway {

// A file that records are appended to (the log, the key record), one write each, so that lines
// from several threads never mix. Created readable by its owner and group only (0640 on POSIX
// systems). reopen() starts on a file of the same name, as log rotation expects after moving the
// old one away.
class LogFile
{
public:
    // Throws std::runtime_error naming the file (as what, "log file" by default) and the
    // system's reason.
    explicit LogFile(std::string path, const std::string& what = "log file");
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // The record and a line end in one write; the system's reason when it could not be written
    // in whole (a full disk), empty when it was.
    std::string append(std::string_view record);
    // Keeps writing to the old file when the new one cannot be opened; the reason is returned
    // (empty when it worked).
    std::string reopen();
    const std::string& path() const { return m_path; }

private:
    struct Handle;
    const std::string m_path;
    std::mutex m_mutex;
    std::unique_ptr<Handle> m_handle;
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
