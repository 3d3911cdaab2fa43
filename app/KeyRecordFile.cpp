#include "app/KeyRecordFile.h"

#include "gateway/platform/LocalClock.h"

using namespace gateway;

namespace app {

KeyRecordFile::KeyRecordFile(std::string path, Complaint complain, LogFileOptions options)
    : m_failures(std::move(complain), "key record", "records"),
      m_file(std::move(path), "key record", m_failures.withTrouble(std::move(options)))
{
}

void KeyRecordFile::write(const KeyRecord& record)
{
    const std::string line = keyRecordJson(record, isoTimestamp(localTimeAt(record.received)),
                                           isoTimestamp(localTimeAt(record.answered)));
    m_failures.tell(path(), m_file.append(line));
}

} // namespace app
