#pragma once

#include "app/WriteFailures.h"
#include "gateway/KeyRecord.h"
#include "gateway/platform/LogFile.h"

#include <functional>
#include <string>

namespace app {

// The key record kept as a file: one JSON line a request, stamped with the local time, each
// line one write. A line that cannot be written never holds up an answer: it is told, at most
// once a minute with the count of those lost meanwhile.
class KeyRecordFile
{
public:
    using Complaint = WriteFailures::Complaint;

    // Throws std::runtime_error naming the file and the system's reason. A rollover that fails
    // (options) is told through complain too, unless the options name their own.
    KeyRecordFile(std::string path, Complaint complain, gateway::LogFileOptions options = {});

    // From any thread.
    void write(const gateway::KeyRecord& record);
    // As LogFile::reopen().
    std::string reopen() { return m_file.reopen(); }
    const std::string& path() const { return m_file.path(); }

private:
    // Before the file, whose rollover troubles it tells.
    WriteFailures m_failures;
    gateway::LogFile m_file;
};

} // namespace app
