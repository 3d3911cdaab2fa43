#pragma once

#include "gateway/Connection.h"
#include "gateway/Log.h"
#include "gateway/SocketPlatform.h"
#include "gateway/Text.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace gateway {

// The one long-lived connection to the lock system's interface server. It is connected once
// and never again; exchanges on it are serialised, so each takes the reply to its own line.
class LockLink
{
public:
    LockLink(std::string host, std::uint16_t port, LogSink log);

    // Blocks until the system's connect attempt ends. Throws EIdCouldNotBindSocket or the
    // socket error (10061 "Connection refused." when nothing listens).
    void connect();

    // Whole exchange under one lock: whatever the link already holds is taken, discarded and
    // logged; then the line is written, the reply awaited for at most waitMs and taken (the
    // empty text when nothing came). Throws ELinkNotConnected when the link never connected,
    // EIdConnClosedGracefully once the server has closed it, the socket error when it breaks,
    // EAbort once cancelled.
    Text exchange(TextView line, int waitMs);

    // Ends every running and later exchange at once with EAbort; used when shutdown cannot
    // wait any longer.
    void cancel();
    // Closes the link; the last step of shutdown.
    void close();

    bool isConnected() const;

private:
    void discardStaleData();
    void throwIfCancelled() const;

    const std::string m_host;
    const std::uint16_t m_port;
    const LogSink m_log;
    WakeSignal m_cancelled;
    mutable std::mutex m_exchangeMutex;
    // Empty until the one connect succeeds.
    std::optional<Connection> m_connection;
};

} // namespace gateway
