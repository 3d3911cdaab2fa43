#pragma once

#include "gateway/Settings.h"

#include <cstdint>
#include <string>

namespace gateway {

// What velmor_sndd was asked to do on its command line.
struct ServerCommandLine
{
    enum class Action
    {
        Run,
        Help,
        Version,
    };
    Action action = Action::Run;
    std::string linkHost = settings::linkHost;
    std::uint16_t port = settings::listenerPort;
    std::uint16_t linkPort = settings::linkPort;
    // Log lines exactly as they are, control characters included; otherwise readably.
    bool rawLog = false;
    // Log and status lines go here, appended; empty: standard output and error.
    std::string logFile;
    // Connections idle this long are closed; 0: never.
    int idleTimeoutSeconds = 0;
    // A lost link is connected again, retried this often; 0: never, the link is connected once.
    int reconnectSeconds = 0;
};

// Throws UsageError, whose message names the option, for anything it cannot accept.
ServerCommandLine parseServerCommandLine(int argc, const char* const* argv);

// The --help text.
std::string serverUsage();

} // namespace gateway
