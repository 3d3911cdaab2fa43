#pragma once

#include "gateway/SocketPlatform.h"

namespace gateway {

// The operator's or the system's request to stop (SIGINT, SIGTERM) as a wake signal that stays
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

private:
    WakeSignal m_signal;
};

} // namespace gateway
