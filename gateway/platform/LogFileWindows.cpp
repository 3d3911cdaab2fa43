#include "gateway/platform/LogFile.h"

namespace gateway {

// Nothing rotates a program's files on Windows: they roll over by themselves.
bool rollsOverMonthlyHere()
{
    return true;
}

// Windows has no SIGHUP: the signal is never raised there.
ReopenRequest::ReopenRequest() = default;
ReopenRequest::~ReopenRequest() = default;

} // namespace gateway
