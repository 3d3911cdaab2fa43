#pragma once

#include "gateway/AddressRange.h"
#include "gateway/IpAddress.h"
#include "gateway/Settings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace gateway {

// What velmor_sndd was asked to do on its command line.
struct ServerCommandLine
{
    enum class Action
    {
        Run,
        Help,
        Version,
        // Windows: register the service with the other options, remove it, or run as it (what
        // the registered command line says; the service manager starts it so).
        InstallService,
        UninstallService,
        RunAsService,
    };
    Action action = Action::Run;
    std::string linkHost = settings::linkHost;
    std::uint16_t port = settings::listenerPort;
    std::uint16_t linkPort = settings::linkPort;
    // Log lines exactly as they are, control characters included; otherwise readably.
    bool rawLog = false;
    // Log and status lines go here, appended and stamped; empty: standard output and error.
    std::string logFile;
    // One JSON line for every request read goes here; empty: none is kept.
    std::string keyRecord;
    // Where to listen; none: every address.
    std::vector<IpAddress> listenAddresses;
    // Whom to serve; none: everyone.
    std::vector<AddressRange> allowed;
    // The most front-desk connections at once; 0: no limit.
    std::size_t maxConnections = 0;
    // Connections idle this long are closed; 0: never.
    int idleTimeoutSeconds = 0;
    // The link is connected in the background and again whenever it is lost or out of step,
    // retried this often; 0: never, the link is connected once, at start.
    int reconnectSeconds = 10;
    // Each connect attempt of the link gives up after this long.
    int connectTimeoutSeconds = 10;
    // For InstallService: the arguments the service is to run with, exactly as given.
    std::vector<std::string> serviceArguments;
};

// Throws UsageError, whose message names the option, for anything it cannot accept; the
// service options only where withServiceOptions (Windows).
ServerCommandLine parseServerCommandLine(int argc, const char* const* argv,
                                         bool withServiceOptions = false);

// The --help text.
std::string serverUsage(bool withServiceOptions = false);

} // namespace gateway
