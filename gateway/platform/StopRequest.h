#pragma once

#include "gateway/platform/SocketPlatform.h"

namespace gateway {

// The operator's or the system's request to stop (SIGINT and SIGTERM; on Windows Ctrl-C,
// Ctrl-Break, a closed console, the end of the session) as a wake signal that stays
// raised, so every wait that watches it ends: the start-up connect, a modal box's loop, the
// program's own wait. One exists at a time; it takes the two signals over from construction
// until destruction, when their default handling comes back.
class StopRequest
{
public:
    StopRequest();
    ~StopRequest();
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    const WakeSignal& signal() const { return m_signal; }
    bool requested() const { return m_signal.raised(); }
    // The same as a received SIGTERM.
    void request() { m_signal.raise(); }

    // For tests: a stop delivered the way the system delivers one to this process (SIGTERM on
    // POSIX systems; on Windows the console's Ctrl-Break, handled on a thread of its own that
    // waits for the shutdown).
    static void deliverSystemStop();

private:
    WakeSignal m_signal;
};

} // namespace gateway
