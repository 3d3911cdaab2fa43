#include "app/KeyRecordFile.h"

#include "gateway/platform/LocalClock.h"

using namespace gateway;

namespace app {

namespace {

LogFileOptions withTrouble(LogFileOptions options, const KeyRecordFile::Complaint& complain)
{
    if (!options.trouble) {
        options.trouble = complain;
    }
    return options;
}

} // namespace

KeyRecordFile::KeyRecordFile(std::string path, Complaint complain, LogFileOptions options)
    : m_file(std::move(path), "key record", withTrouble(std::move(options), complain)),
      m_complain(std::move(complain))
{
}

void KeyRecordFile::write(const KeyRecord& record)
{
    const std::string line = keyRecordJson(record, isoTimestamp(localTimeAt(record.received)),
                                           isoTimestamp(localTimeAt(record.answered)));
    const std::string reason = m_file.append(line);
    if (reason.empty()) {
        return;
    }
    if (const std::optional<int> heldBack = m_failures.admit()) {
        m_complain("cannot write to the key record " + path() + ": " + reason +
                   (*heldBack > 0 ? " (" + std::to_string(*heldBack) +
                                        " more records lost since the last such line)"
                                  : std::string()));
    }
}

} // namespace app
