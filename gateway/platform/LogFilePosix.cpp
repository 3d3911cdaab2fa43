#include "gateway/platform/LogFile.h"

#include "gateway/platform/SignalWakePosix.h"

#include <csignal>

namespace gateway {

// logrotate moves the files aside, and SIGHUP has them reopened.
bool rollsOverMonthlyHere()
{
    return false;
}

ReopenRequest::ReopenRequest()
{
    posix::raiseOnSignal(SIGHUP, m_signal);
}

ReopenRequest::~ReopenRequest()
{
    posix::restoreSignal(SIGHUP);
}

} // namespace gateway
