#include "gateway/platform/StopRequest.h"

#include "gateway/platform/SignalWakePosix.h"

#include <csignal>

namespace gateway {

StopRequest::StopRequest()
{
    posix::raiseOnSignal(SIGINT, m_signal);
    try {
        posix::raiseOnSignal(SIGTERM, m_signal);
    } catch (...) {
        posix::restoreSignal(SIGINT);
        throw;
    }
}

void StopRequest::deliverSystemStop()
{
    ::raise(SIGTERM);
}

StopRequest::~StopRequest()
{
    posix::restoreSignal(SIGTERM);
    posix::restoreSignal(SIGINT);
}

} // namespace gateway
