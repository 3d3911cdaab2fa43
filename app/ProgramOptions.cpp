#include "app/ProgramOptions.h"

#include "gateway/Gateway.h"
#include "gateway/base/BuildInfo.h"
#include "gateway/base/EndpointText.h"
#include "gateway/base/OptionReader.h"

#include <cctype>
#include <set>

using namespace gateway;

namespace app {

namespace {

bool isFullWindowsPath(const std::string& path)
{
    const bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                       path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    return drive || path.rfind("\\\\", 0) == 0;
}

// "*" for every address, or one literal; an IPv4-mapped one is its IPv4 address, as an IPv6
// socket takes no IPv4 peers here.
void addListenAddress(ProgramOptions& chosen, bool& everywhere, const std::string& value)
{
    if (value == "*") {
        everywhere = true;
    } else if (const auto address = parseIpAddress(value)) {
        const IpAddress own = address->unmapped();
        for (const IpAddress& earlier : chosen.listenAddresses) {
            if (earlier == own) {
                throw UsageError("--listen: " + value + " is given twice");
            }
        }
        chosen.listenAddresses.push_back(own);
    } else {
        throw UsageError("--listen: '" + value +
                         "' is not an IPv4 or IPv6 address (or * for every address)");
    }
    if (everywhere && !chosen.listenAddresses.empty()) {
        throw UsageError("--listen: * (every address) goes alone, without other addresses");
    }
}

// An address or range of those served, or the option's refusal.
AddressRange rangeOption(const std::string& name, const std::string& value)
{
    auto range = parseAddressRange(value);
    if (const auto* why = std::get_if<std::string>(&range)) {
        throw UsageError(name + ": " + *why);
    }
    return std::get<AddressRange>(range);
}

// Registering, removing or running as a Windows service.
bool isServiceOption(const std::string& name)
{
    return name == "--install-service" || name == "--uninstall-service" || name == "--service";
}

// Options only a command line can give: what to do rather than how to run.
bool isCommandOnly(const std::string& name)
{
    return name == "--help" || name == "--version" || name == "--config" || name == "--check" ||
           isServiceOption(name);
}

// Options of velmor_sndd alone: the window's log is what its pane shows, and it is no service.
bool isServerOnly(const std::string& name)
{
    return name == "--raw-log" || name == "--check" || isServiceOption(name);
}

// Options of the window alone: velmor_sndd has no log pane.
bool isWindowOnly(const std::string& name)
{
    return name == "--log-lines";
}

// The most lines the log pane may keep: about 50 MB of pane at the longest log lines a request
// writes; the log file keeps every line beyond them.
constexpr long long mostLogLines = 100'000;

std::size_t parseLogLines(const std::string& name, const std::string& value)
{
    return static_cast<std::size_t>(parseNumber(name, value, 1, mostLogLines));
}

// Reads one option (its name just taken from options) into chosen. fromFile: a settings file's
// line, where an option without a value reads "yes" or "no".
class OptionApplier
{
public:
    OptionApplier(ProgramOptions& chosen, Program program, bool withServiceOptions)
        : m_chosen(chosen), m_program(program), m_withServiceOptions(withServiceOptions)
    {
    }

    // False for an option of the other program read from a (shared) settings file.
    bool apply(OptionReader& options, const std::string& name, bool fromFile)
    {
        if (isServerOnly(name) && m_program == Program::Window) {
            if (fromFile) {
                return false;
            }
            throw UsageError(name + ": velmor_sndd only; the window shows its log");
        }
        if (isWindowOnly(name) && m_program == Program::Server) {
            if (fromFile) {
                // Checked all the same, so that velmor_sndd --check finds what the window would
                // refuse.
                parseLogLines(name, options.value());
                return false;
            }
            throw UsageError(name + ": velmor_snd only; velmor_sndd has no log pane");
        }
        const auto flag = [&] {
            if (!fromFile) {
                options.noValue();
                return true;
            }
            const std::string value = options.value();
            if (value == "yes" || value == "no") {
                return value == "yes";
            }
            throw UsageError(name.substr(2) + ": '" + value + "' is neither yes nor no");
        };
        const bool serviceOption = isServiceOption(name);
        if (serviceOption && !m_withServiceOptions) {
            throw UsageError(name + ": Windows services only; here the velmor_sndd.service unit "
                                    "runs it as a service");
        }
        if (serviceOption) {
            options.noValue();
            ++m_serviceActions;
            m_installService = name == "--install-service";
            m_chosen.action = name == "--install-service" ? ProgramOptions::Action::InstallService
                              : name == "--uninstall-service"
                                  ? ProgramOptions::Action::UninstallService
                                  : ProgramOptions::Action::RunAsService;
        } else if (name == "--help") {
            options.noValue();
            m_chosen.action = ProgramOptions::Action::Help;
        } else if (name == "--version") {
            options.noValue();
            m_chosen.action = ProgramOptions::Action::Version;
        } else if (name == "--check") {
            options.noValue();
            m_checking = true;
        } else if (name == "--config") {
            m_chosen.settingsFile = options.value();
            if (m_chosen.settingsFile.empty()) {
                throw UsageError("--config: the file name is empty");
            }
        } else if (name == "--link-host") {
            m_chosen.linkHost = parseHost(name, options.value());
        } else if (name == "--port") {
            m_chosen.port = parsePort(name, options.value(), 1);
        } else if (name == "--link-port") {
            m_chosen.linkPort = parsePort(name, options.value(), 1);
        } else if (name == "--log-file") {
            m_chosen.logFile = options.value();
            if (m_chosen.logFile.empty()) {
                throw UsageError("--log-file: the file name is empty");
            }
        } else if (name == "--log-lines") {
            m_chosen.logLines = parseLogLines(name, options.value());
        } else if (name == "--key-record") {
            m_chosen.keyRecord = options.value();
            if (m_chosen.keyRecord.empty()) {
                throw UsageError("--key-record: the file name is empty");
            }
        } else if (name == "--keep-months") {
            // Up to a hundred years: beyond it is a typo, not a policy.
            m_chosen.keepMonths = static_cast<int>(parseNumber(name, options.value(), 0, 1200));
        } else if (name == "--listen") {
            startList(name, m_chosen.listenAddresses);
            addListenAddress(m_chosen, m_listenEverywhere, options.value());
        } else if (name == "--allow") {
            startList(name, m_chosen.allowed);
            m_chosen.allowed.push_back(rangeOption(name, options.value()));
        } else if (name == "--metrics-listen") {
            startList(name, m_chosen.metricsListen);
            const std::string value = options.value();
            auto endpoint = parseEndpoint(value);
            if (const auto* why = std::get_if<std::string>(&endpoint)) {
                throw UsageError("--metrics-listen: " + *why);
            }
            const Endpoint& chosen = std::get<Endpoint>(endpoint);
            for (const Endpoint& earlier : m_chosen.metricsListen) {
                if (earlier.address == chosen.address && earlier.port == chosen.port) {
                    throw UsageError("--metrics-listen: " + value + " is given twice");
                }
            }
            m_chosen.metricsListen.push_back(chosen);
        } else if (name == "--metrics-allow") {
            startList(name, m_chosen.metricsAllowed);
            m_chosen.metricsAllowed.push_back(rangeOption(name, options.value()));
        } else if (name == "--max-connections") {
            m_chosen.maxConnections =
                static_cast<std::size_t>(parseNumber(name, options.value(), 0, 1'000'000));
        } else if (name == "--idle-timeout") {
            m_chosen.idleTimeoutSeconds =
                static_cast<int>(parseNumber(name, options.value(), 0, 24 * 60 * 60));
        } else if (name == "--reconnect") {
            m_chosen.reconnectSeconds =
                static_cast<int>(parseNumber(name, options.value(), 0, 24 * 60 * 60));
        } else if (name == "--connect-timeout") {
            m_chosen.connectTimeoutSeconds =
                static_cast<int>(parseNumber(name, options.value(), 1, 10 * 60));
        } else if (name == "--raw-log") {
            m_chosen.rawLog = flag();
        } else {
            throw UsageError(fromFile ? "'" + name.substr(2) + "' is no setting"
                                      : "unknown option " + name);
        }
        return true;
    }

    // From here on the options are the command line's: a list it gives replaces the file's.
    void beginCommandLine()
    {
        m_commandLine = true;
        m_listenEverywhere = false;
    }
    int serviceActions() const { return m_serviceActions; }
    // The options are to be checked as registering the service checks them: it is being
    // registered, or --check asks so with --install-service.
    bool forService() const { return m_installService; }
    // --check wins over whatever else the command line asks for: nothing is done but the check.
    void finish()
    {
        if (m_checking) {
            m_chosen.action = ProgramOptions::Action::Check;
        }
    }

private:
    template <typename List> void startList(const std::string& name, List& list)
    {
        if (m_commandLine && m_listsGiven.insert(name).second) {
            list.clear();
        }
    }

    ProgramOptions& m_chosen;
    const Program m_program;
    const bool m_withServiceOptions;
    bool m_commandLine = false;
    bool m_checking = false;
    bool m_installService = false;
    bool m_listenEverywhere = false;
    int m_serviceActions = 0;
    std::set<std::string> m_listsGiven;
};

// On Windows the files roll over by themselves; elsewhere logrotate moves them aside.
std::string keepMonthsUsage(bool windows)
{
    const std::string keep = std::to_string(settings::keepMonths);
    if (windows) {
        return "  --keep-months N    keep N months of the log file and key record (default " +
               keep +
               ";\n"
               "                     0: all): they roll over monthly, the first line of a month\n"
               "                     moving each file aside with its month in the name\n"
               "                     (keys-2026-11.jsonl) and beginning a new one; older month\n"
               "                     files are removed then\n";
    }
    return "  --keep-months N    on Windows, months of the log file and key record kept as\n"
           "                     they roll over by themselves (default " +
           keep +
           "; 0: all); here\n"
           "                     logrotate moves them aside (/etc/logrotate.d/velmor_sndd)\n";
}

} // namespace

ProgramOptions defaultOptions(Program program)
{
    ProgramOptions chosen;
    if (program == Program::Window) {
        // The window's link as it always was: connected once, with the system's own time limit.
        chosen.reconnectSeconds = 0;
        chosen.connectTimeoutSeconds = 0;
    }
    return chosen;
}

std::optional<std::string> configOption(int argc, const char* const* argv)
{
    std::optional<std::string> path;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--config" && i + 1 < argc) {
            path = argv[++i];
        } else if (word.substr(0, 9) == "--config=") {
            path = std::string(word.substr(9));
        }
    }
    return path;
}

ProgramOptions parseProgramOptions(int argc, const char* const* argv, bool withServiceOptions,
                                   const std::vector<Setting>& settings,
                                   const std::string& settingsFile, Program program)
{
    ProgramOptions chosen = defaultOptions(program);
    OptionApplier applier(chosen, program, withServiceOptions);
    for (const Setting& setting : settings) {
        const std::string name = "--" + setting.name;
        const std::string word = name + "=" + setting.value;
        const char* const words[] = {"", word.c_str()};
        OptionReader options(2, words);
        options.next();
        try {
            if (isCommandOnly(name)) {
                throw UsageError("'" + setting.name + "' is for the command line only");
            }
            applier.apply(options, name, true);
        } catch (const UsageError& error) {
            throw UsageError(settingsFile + ":" + std::to_string(setting.line) + ": " +
                             error.what());
        }
    }
    chosen.settingsFile = settingsFile;
    applier.beginCommandLine();
    OptionReader options(argc, argv);
    while (!options.atEnd()) {
        const std::string name = options.next();
        applier.apply(options, name, false);
    }
    applier.finish();
    if (applier.serviceActions() > 1) {
        throw UsageError("--install-service, --uninstall-service and --service go alone");
    }
    if (chosen.action == ProgramOptions::Action::UninstallService && argc > 2) {
        throw UsageError("--uninstall-service takes no other options");
    }
    if (applier.forService()) {
        // A service starts in the system's folder: a relative path would land there.
        const auto needFullPath = [](const std::string& path, const char* option,
                                     const char* example) {
            if (!path.empty() && !isFullWindowsPath(path)) {
                throw UsageError(std::string(option) + ": a service needs a full path, such as " +
                                 example);
            }
        };
        needFullPath(chosen.logFile, "--log-file", "C:\\logs\\velmor.log");
        needFullPath(chosen.keyRecord, "--key-record", "C:\\logs\\keys.jsonl");
        if (configOption(argc, argv)) {
            needFullPath(chosen.settingsFile, "--config", "C:\\velmor\\velmor_snd.conf");
        }
    }
    if (chosen.action == ProgramOptions::Action::InstallService) {
        chosen.serviceArguments.push_back("--service");
        for (int i = 1; i < argc; ++i) {
            if (std::string(argv[i]) != "--install-service") {
                chosen.serviceArguments.emplace_back(argv[i]);
            }
        }
    }
    return chosen;
}

GatewayOptions gatewayOptions(const ProgramOptions& command)
{
    GatewayOptions options;
    options.listenerPort = command.port;
    options.linkHost = command.linkHost;
    options.linkPort = command.linkPort;
    options.idleTimeoutMs = command.idleTimeoutSeconds * 1000;
    options.connectTimeoutMs = command.connectTimeoutSeconds * 1000;
    options.listenAddresses = command.listenAddresses;
    options.allowedPeers = PeerFilter(command.allowed);
    options.maxConnections = command.maxConnections;
    return options;
}

std::string programUsage(Program program, bool windows)
{
    const bool server = program == Program::Server;
    const ProgramOptions defaults = defaultOptions(program);
    std::string text = server ? "Usage: velmor_sndd [options]\n"
                                "The key-request gateway without a window: listens for key "
                                "requests from\n"
                                "the front desk and passes each to the lock system's interface "
                                "server.\n"
                              : "Usage: velmor_snd [options]\n"
                                "The key-request gateway with its operator window: listens for key "
                                "requests\n"
                                "from the front desk and passes each to the lock system's "
                                "interface server.\n";
    const std::string settingsFile =
        windows ? "%ProgramData%\\velmor_snd\\velmor_snd.conf" : "/etc/velmor_snd.conf";
    // SIGHUP, where the system has it, reopens the program's files.
    const std::string reopened = windows ? "" : "                     (SIGHUP reopens it)\n";
    text += "\n"
            "  --link-host HOST   the lock system's interface server (default " +
            std::string(settings::linkHost) +
            ")\n"
            "  --link-port PORT   the interface server's port (default " +
            std::to_string(settings::linkPort) +
            ")\n"
            "  --port PORT        port for key requests (default " +
            std::to_string(settings::listenerPort) +
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
            "  --metrics-listen ADDRESS:PORT\n"
            "                     answer monitoring over HTTP there: /health (200 while key\n"
            "                     requests can be served, else 503 and why) and /metrics\n"
            "                     (Prometheus text), such as 127.0.0.1:9464 or [::1]:9464;\n"
            "                     repeat it for more (default: off)\n"
            "  --metrics-allow ADDRESS[/PREFIX]\n"
            "                     answer monitoring from this address or range only; repeat\n"
            "                     it for more (default: any that can reach it)\n";
    if (server) {
        text += "  --raw-log          log lines exactly as they are; by default control "
                "characters\n"
                "                     are written as <STX>, <ETX>, <EOT>, <CR>, <LF> or <0xNN>, "
                "so\n"
                "                     each log line stays one line\n"
                "  --log-file PATH    append the log and the program's own lines to PATH, each\n"
                "                     line stamped with the local time (created readable by "
                "owner\n"
                "                     and group only), instead of standard output and error\n" +
                reopened;
    } else {
        text +=
            "  --log-file PATH    append every log line to PATH as well, stamped with the local\n"
            "                     time and written readably (created readable by owner and\n"
            "                     group only)\n" +
            reopened +
            "  --log-lines N      the log pane keeps the latest N log lines, older ones leave\n"
            "                     from the top (default " +
            std::to_string(defaults.logLines) + ", at most " + std::to_string(mostLogLines) + ")\n";
    }
    text += "  --key-record PATH  append one JSON line to PATH for every key request read: who\n"
            "                     asked, for which room and dates, what went to the lock "
            "system,\n"
            "                     its code and the answer given (created readable by owner and\n"
            "                     group only)\n" +
            reopened + keepMonthsUsage(windows) +
            "  --idle-timeout SECONDS\n"
            "                     close a front desk's connection when nothing has come on it\n"
            "                     for that long (default 0: never, as front-desk programs may\n"
            "                     keep their connection open between requests)\n"
            "  --reconnect SECONDS\n"
            "                     connect the link to the lock system in the background, and\n"
            "                     again whenever it is lost or a reply did not come in time,\n"
            "                     retrying every SECONDS; meanwhile requests fail at once\n" +
            (defaults.reconnectSeconds > 0
                 ? "                     (default " + std::to_string(defaults.reconnectSeconds) +
                       "; 0: connect once at start, and a lost link needs\n"
                       "                     a restart)\n"
                 : std::string("                     (default 0: connect once at start, and a "
                               "lost link needs a\n"
                               "                     restart)\n")) +
            "  --connect-timeout SECONDS\n"
            "                     give up each connect attempt to the lock system after SECONDS\n" +
            (defaults.connectTimeoutSeconds > 0
                 ? "                     (default " +
                       std::to_string(defaults.connectTimeoutSeconds) + ")\n"
                 : std::string("                     (default: when the system gives up)\n")) +
            "  --config PATH      read the settings from PATH instead of\n"
            "                     " +
            settingsFile + "\n";
    if (server) {
        text += "  --check            read the settings and the command line, say whether they "
                "are\n"
                "                     fine, and end (exit 0, or 2 with what is wrong)\n";
    }
    if (server && windows) {
        text += "                     (with --install-service: as registering the service would\n"
                "                     check them, registering nothing)\n"
                "  --install-service [OPTIONS]\n"
                "                     register the Windows service velmor_sndd (automatic start)\n"
                "                     that runs with the other options given; its log goes to\n"
                "                     --log-file (a full path), by default\n"
                "                     %ProgramData%\\velmor_sndd\\velmor_sndd.log, and its key\n"
                "                     record to --key-record, by default\n"
                "                     %ProgramData%\\velmor_sndd\\keys.jsonl\n"
                "  --uninstall-service\n"
                "                     stop the service and remove it\n";
    }
    text += "  --help             show this text\n"
            "  --version          show the version\n"
            "\n"
            "The settings file holds lines \"name = value\" with the names of these options\n"
            "(link-host = 10.1.2.3, allow = 10.1.20.0/24, one line for each address), \"#\"\n"
            "comments, and yes or no for an option without a value; the command line wins.\n"
            "Both programs read it, each the options that apply to it.\n";
    if (server) {
        text += std::string("Log lines go to standard output, failures and the program's own "
                            "lines to standard\n"
                            "error, unless --log-file is given. ") +
                (windows ? "Ctrl-C, Ctrl-Break, a closed console and the service\n"
                           "manager's stop stop it in order.\n"
                         : "SIGINT and SIGTERM (the service manager's\n"
                           "stop) stop it in order.\n") +
                "Exit status: 0 after a stop, 1 when the port cannot be bound or the log file or\n"
                "key record cannot be opened, 2 for bad settings or a bad command line.\n";
    } else {
        text +=
            "Exit status: 0 once the window is closed, 1 when the port cannot be bound or the\n"
            "log file or key record cannot be opened, 2 for bad settings or a bad command line.\n";
    }
    return text;
}

} // namespace app
