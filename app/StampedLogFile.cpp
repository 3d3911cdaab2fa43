#include "app/StampedLogFile.h"

#include "gateway/platform/LocalClock.h"

namespace app {

StampedLogFile::StampedLogFile(std::string path, Complaint complain)
    : m_file(std::move(path)), m_complain(std::move(complain))
{
}

void StampedLogFile::write(const std::string& line)
{
    const std::string reason = m_file.append(gateway::timestampNow() + " " + line);
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
