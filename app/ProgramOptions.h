#pragma once

#include "app/SettingsFile.h"
#include "gateway/base/AddressRange.h"
#include "gateway/base/IpAddress.h"
#include "gateway/base/Settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gateway {
struct GatewayOptions;
}

namespace app {

// How many of the latest log lines the window's pane keeps unless told otherwise.
inline constexpr std::size_t defaultLogLines = 10000;

// Which program reads the options: both take those of the gateway and keep the same files; only
// velmor_sndd writes its log raw or runs as a service, only the window has a log pane.
enum class Program
{
    Server,
    Window,
};

// What velmor_sndd, or the window, was asked to do: its settings file's options under those of
// its command line.
struct ProgramOptions
{
    enum class Action
    {
        Run,
        Help,
        Version,
        // Read the settings and the command line, say whether they are fine, and end.
        Check,
        // Windows: register the service with the other options, remove it, or run as it (what
        // the registered command line says; the service manager starts it so).
        InstallService,
        UninstallService,
        RunAsService,
    };
    Action action = Action::Run;
    std::string linkHost = gateway::settings::linkHost;
    std::uint16_t port = gateway::settings::listenerPort;
    std::uint16_t linkPort = gateway::settings::linkPort;
    // Log lines exactly as they are, control characters included; otherwise readably.
    bool rawLog = false;
    // Log and status lines go here, appended and stamped; empty: standard output and error (the
    // window: its pane alone).
    std::string logFile;
    // The window's log pane keeps this many of the latest log lines.
    std::size_t logLines = defaultLogLines;
    // One JSON line for every request read goes here; empty: none is kept.
    std::string keyRecord;
    // Where the log file and the key record roll over by themselves (Windows), the months moved
    // aside that are kept; 0: all of them.
    int keepMonths = gateway::settings::keepMonths;
    // Where to listen; none: every address.
    std::vector<gateway::IpAddress> listenAddresses;
    // Whom to serve; none: everyone.
    std::vector<gateway::AddressRange> allowed;
    // The most front-desk connections at once; 0: no limit.
    std::size_t maxConnections = 0;
    // Where the monitoring endpoint (health and metrics over HTTP) answers; none: it is off.
    std::vector<gateway::Endpoint> metricsListen;
    // Whom it answers; none: whoever can reach it.
    std::vector<gateway::AddressRange> metricsAllowed;
    // Connections idle this long are closed; 0: never.
    int idleTimeoutSeconds = 0;
    // The link is connected in the background and again whenever it is lost or out of step,
    // retried this often; 0: never, the link is connected once, at start.
    int reconnectSeconds = 10;
    // Each connect attempt of the link gives up after this long.
    int connectTimeoutSeconds = 10;
    // The settings file read; empty when none was.
    std::string settingsFile;
    // For InstallService: the arguments the service is to run with, exactly as given.
    std::vector<std::string> serviceArguments;
};

// The options before any settings file or command line: the window's link connects once, with
// the system's own time limit.
ProgramOptions defaultOptions(Program program);

// The path --config names on the command line, if it does; read before anything else, so that
// the file's options can go under the command line's.
std::optional<std::string> configOption(int argc, const char* const* argv);

// The settings (read from settingsFile) and then the command line; a list option the command
// line gives (--listen, --allow) replaces the file's. A file's option of the other program is
// passed over (the file is shared). Throws UsageError, whose message names the option, and for a
// setting the file and line, for anything it cannot accept; the service options only where
// withServiceOptions (Windows).
ProgramOptions parseProgramOptions(int argc, const char* const* argv,
                                   bool withServiceOptions = false,
                                   const std::vector<Setting>& settings = {},
                                   const std::string& settingsFile = {},
                                   Program program = Program::Server);

// The gateway's settings as these options give them.
gateway::GatewayOptions gatewayOptions(const ProgramOptions& options);

// The --help text of the program, for Windows (the service options, no signals) or not.
std::string programUsage(Program program, bool windows);

} // namespace app
