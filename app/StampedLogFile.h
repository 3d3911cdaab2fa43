#pragma once

#include "app/WriteFailures.h"
#include "gateway/platform/LogFile.h"

#include <functional>
#include <span>
#include <string>

namespace app {

// The log kept as a file, as velmor_sndd keeps its own: each line stamped with the local time
// ("2026-12-10T19:45:02.123+01:00 " and the line), one write each. A line that cannot be
// written (a full disk) never holds up the caller: it is told, at most once a minute with the
// count of those lost meanwhile.
class StampedLogFile
{
public:
    using Complaint = WriteFailures::Complaint;

    // Throws std::runtime_error naming the file and the system's reason. A rollover that fails
    // (options) is told through complain too, unless the options name their own.
    StampedLogFile(std::string path, Complaint complain, gateway::LogFileOptions options = {});

    // From any thread; the line as it is to be read (one line, no line break).
    void write(const std::string& line);
    // Several lines in one write, each stamped with the same moment.
    void write(std::span<const std::string> lines);
    // As LogFile::reopen().
    std::string reopen() { return m_file.reopen(); }
    const std::string& path() const { return m_file.path(); }

private:
    // Before the file, whose rollover troubles it tells.
    WriteFailures m_failures;
    gateway::LogFile m_file;
};

} // namespace app
