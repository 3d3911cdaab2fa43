#include "gateway/ServerCommandLine.h"

#include "gateway/BuildInfo.h"
#include "gateway/OptionReader.h"

#include <cctype>

namespace gateway {

namespace {

// A service starts in the system's folder: a relative log file would land there.
bool isFullWindowsPath(const std::string& path)
{
    const bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                       path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    return drive || path.rfind("\\\\", 0) == 0;
}

// "*" for every address, or one literal; an IPv4-mapped one is its IPv4 address, as an IPv6
// socket takes no IPv4 peers here.
void addListenAddress(ServerCommandLine& line, bool& everywhere, const std::string& value)
{
    if (value == "*") {
        everywhere = true;
    } else if (const auto address = parseIpAddress(value)) {
        const IpAddress own = address->unmapped();
        for (const IpAddress& earlier : line.listenAddresses) {
            if (earlier == own) {
                throw UsageError("--listen: " + value + " is given twice");
            }
        }
        line.listenAddresses.push_back(own);
    } else {
        throw UsageError("--listen: '" + value +
                         "' is not an IPv4 or IPv6 address (or * for every address)");
    }
    if (everywhere && !line.listenAddresses.empty()) {
        throw UsageError("--listen: * (every address) goes alone, without other addresses");
    }
}

} // namespace

ServerCommandLine parseServerCommandLine(int argc, const char* const* argv, bool withServiceOptions)
{
    ServerCommandLine line;
    OptionReader options(argc, argv);
    int serviceActions = 0;
    bool listenEverywhere = false;
    while (!options.atEnd()) {
        const std::string name = options.next();
        const bool serviceOption =
            name == "--install-service" || name == "--uninstall-service" || name == "--service";
        if (serviceOption && !withServiceOptions) {
            throw UsageError(name + ": Windows services only; here the velmor_sndd.service unit "
                                    "runs it as a service");
        }
        if (serviceOption) {
            options.noValue();
            ++serviceActions;
            line.action = name == "--install-service" ? ServerCommandLine::Action::InstallService
                          : name == "--uninstall-service"
                              ? ServerCommandLine::Action::UninstallService
                              : ServerCommandLine::Action::RunAsService;
        } else if (name == "--help") {
            options.noValue();
            line.action = ServerCommandLine::Action::Help;
        } else if (name == "--version") {
            options.noValue();
            line.action = ServerCommandLine::Action::Version;
        } else if (name == "--link-host") {
            line.linkHost = parseHost(name, options.value());
        } else if (name == "--port") {
            line.port = parsePort(name, options.value(), 1);
        } else if (name == "--link-port") {
            line.linkPort = parsePort(name, options.value(), 1);
        } else if (name == "--log-file") {
            line.logFile = options.value();
            if (line.logFile.empty()) {
                throw UsageError("--log-file: the file name is empty");
            }
        } else if (name == "--key-record") {
            line.keyRecord = options.value();
            if (line.keyRecord.empty()) {
                throw UsageError("--key-record: the file name is empty");
            }
        } else if (name == "--listen") {
            addListenAddress(line, listenEverywhere, options.value());
        } else if (name == "--allow") {
            const std::string value = options.value();
            auto range = parseAddressRange(value);
            if (const auto* why = std::get_if<std::string>(&range)) {
                throw UsageError("--allow: " + *why);
            }
            line.allowed.push_back(std::get<AddressRange>(range));
        } else if (name == "--max-connections") {
            line.maxConnections =
                static_cast<std::size_t>(parseNumber(name, options.value(), 0, 1'000'000));
        } else if (name == "--idle-timeout") {
            line.idleTimeoutSeconds =
                static_cast<int>(parseNumber(name, options.value(), 0, 24 * 60 * 60));
        } else if (name == "--reconnect") {
            line.reconnectSeconds =
                static_cast<int>(parseNumber(name, options.value(), 0, 24 * 60 * 60));
        } else if (name == "--connect-timeout") {
            line.connectTimeoutSeconds =
                static_cast<int>(parseNumber(name, options.value(), 1, 10 * 60));
        } else if (name == "--raw-log") {
            options.noValue();
            line.rawLog = true;
        } else {
            throw UsageError("unknown option " + name);
        }
    }
    if (serviceActions > 1) {
        throw UsageError("--install-service, --uninstall-service and --service go alone");
    }
    if (line.action == ServerCommandLine::Action::UninstallService && argc > 2) {
        throw UsageError("--uninstall-service takes no other options");
    }
    if (line.action == ServerCommandLine::Action::InstallService) {
        if (!line.logFile.empty() && !isFullWindowsPath(line.logFile)) {
            throw UsageError(
                "--log-file: a service needs a full path, such as C:\\logs\\velmor.log");
        }
        if (!line.keyRecord.empty() && !isFullWindowsPath(line.keyRecord)) {
            throw UsageError(
                "--key-record: a service needs a full path, such as C:\\logs\\keys.jsonl");
        }
        line.serviceArguments.push_back("--service");
        for (int i = 1; i < argc; ++i) {
            if (std::string(argv[i]) != "--install-service") {
                line.serviceArguments.emplace_back(argv[i]);
            }
        }
    }
    return line;
}

std::string serverUsage(bool withServiceOptions)
{
    const std::string serviceOptions =
        withServiceOptions
            ? "  --install-service [OPTIONS]\n"
              "                     register the Windows service velmor_sndd (automatic start)\n"
              "                     that runs with the other options given; its log goes to\n"
              "                     --log-file (a full path), by default\n"
              "                     %ProgramData%\\velmor_sndd\\velmor_sndd.log, and its key\n"
              "                     record to --key-record, by default\n"
              "                     %ProgramData%\\velmor_sndd\\keys.jsonl\n"
              "  --uninstall-service\n"
              "                     stop the service and remove it\n"
            : "";
    return std::string("Usage: velmor_sndd [options]\n"
                       "The key-request gateway without a window: listens for key requests from\n"
                       "the front desk and passes each to the lock system's interface server.\n"
                       "\n"
                       "  --link-host HOST   the lock system's interface server (default ") +
           settings::linkHost +
           ")\n"
           "  --port PORT        port for key requests (default " +
           std::to_string(settings::listenerPort) +
           ")\n"
           "  --link-port PORT   the interface server's port (default " +
           std::to_string(settings::linkPort) +
           ")\n"
           "  --listen ADDRESS   listen for key requests on this IPv4 or IPv6 address only;\n"
           "                     repeat it for more (default *: every address)\n"
           "  --allow ADDRESS[/PREFIX]\n"
           "                     serve front desks from this address or range only, such as\n"
           "                     192.0.2.10 or 10.1.0.0/16; repeat it for more (default: any);\n"
           "                     other connections are closed unread and logged\n"
           "  --max-connections N\n"
           "                     serve at most N front-desk connections at once; more are\n"
           "                     closed at once and logged (default 0: no limit)\n"
           "  --raw-log          log lines exactly as they are; by default control characters\n"
           "                     are written as <STX>, <ETX>, <EOT>, <CR>, <LF> or <0xNN>, so\n"
           "                     each log line stays one line\n"
           "  --log-file PATH    append the log and the program's own lines to PATH, each\n"
           "                     line stamped with the local time (created readable by owner\n"
           "                     and group only), instead of standard output and error;\n"
           "                     SIGHUP reopens it, for log rotation\n"
           "  --key-record PATH  append one JSON line to PATH for every key request read: who\n"
           "                     asked, for which room and dates, what went to the lock system,\n"
           "                     its code and the answer given (created readable by owner and\n"
           "                     group only); SIGHUP reopens it\n"
           "  --idle-timeout SECONDS\n"
           "                     close a front desk's connection when nothing has come on it\n"
           "                     for that long (default 0: never, as front-desk programs may\n"
           "                     keep their connection open between requests)\n"
           "  --reconnect SECONDS\n"
           "                     connect the link to the lock system in the background, and\n"
           "                     again whenever it is lost or a reply did not come in time,\n"
           "                     retrying every SECONDS; meanwhile requests fail at once\n"
           "                     (default 10; 0: connect once at start, and a lost link needs\n"
           "                     a restart)\n"
           "  --connect-timeout SECONDS\n"
           "                     give up each connect attempt to the lock system after SECONDS\n"
           "                     (default 10)\n" +
           serviceOptions +
           "  --help             show this text\n"
           "  --version          show the version\n"
           "\n"
           "Log lines go to standard output, failures and the program's own lines to standard\n"
           "error, unless --log-file is given. SIGINT and SIGTERM (Ctrl-C, Ctrl-Break or a closed\n"
           "console on Windows; the service manager's stop) stop it in order.\n"
           "Exit status: 0 after a stop, 1 when the port cannot be bound or the log file cannot\n"
           "be opened, 2 for a bad command line.\n";
}

} // namespace gateway
