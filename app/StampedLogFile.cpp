#include "app/StampedLogFile.h"

namespace app {

StampedLogFile::StampedLogFile(std::string path, Complaint complain,
                               gateway::LogFileOptions options)
    : m_file(std::move(path), "log file",
             [&] {
                 if (!options.trouble) {
                     options.trouble = complain;
                 }
                 return std::move(options);
             }()),
      m_complain(std::move(complain))
{
}

void StampedLogFile::write(const std::string& line)
{
    complainOf(m_file.appendStamped(line));
}

void StampedLogFile::write(std::span<const std::string> lines)
{
    complainOf(m_file.appendStamped(lines));
}

void StampedLogFile::complainOf(const std::string& reason)
{
    if (reason.empty()) {
        return;
    }
    if (const std::optional<int> heldBack = m_failures.admit()) {
        m_complain("cannot write to the log file " + path() + ": " + reason +
                   (*heldBack > 0 ? " (" + std::to_string(*heldBack) +
                                        " more lines lost since the last such line)"
                                  : std::string()));
    }
}

} // namespace app
