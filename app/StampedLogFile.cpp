#include "app/StampedLogFile.h"

namespace app {

StampedLogFile::StampedLogFile(std::string path, Complaint complain,
                               gateway::LogFileOptions options)
    : m_failures(std::move(complain), "log file", "lines"),
      m_file(std::move(path), "log file", m_failures.withTrouble(std::move(options)))
{
}

void StampedLogFile::write(const std::string& line)
{
    m_failures.tell(path(), m_file.appendStamped(line));
}

void StampedLogFile::write(std::span<const std::string> lines)
{
    m_failures.tell(path(), m_file.appendStamped(lines));
}

} // namespace app
