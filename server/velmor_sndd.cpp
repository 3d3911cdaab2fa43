// The gateway without a window: the same start-up order as the operator program (listener,
// then link), log lines on standard output, failures and its own status on standard error,
// each on one line.

#include "app/KeyRecordFile.h"
#include "app/ProgramOptions.h"
#include "app/ReadProgramOptions.h"
#include "gateway/Gateway.h"
#include "gateway/ServiceStatus.h"
#include "gateway/base/BuildInfo.h"
#include "gateway/base/Errors.h"
#include "gateway/base/LineOutput.h"
#include "gateway/base/OptionReader.h"
#include "gateway/base/ReadableText.h"
#include "gateway/link/LinkRecovery.h"
#include "gateway/platform/LogFile.h"
#include "gateway/platform/ProcessFacts.h"
#include "gateway/platform/StopRequest.h"
#include "monitor/GatewayRoutes.h"
#include "monitor/MonitorEndpoint.h"
#include "server/EventLog.h"
#include "server/ServiceHost.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

// Log records on standard output, the program's own lines and failures on standard error; with
// a log file, every record goes there instead, stamped (the journal stamps the standard streams).
class Output
{
public:
    void useFile(std::unique_ptr<gateway::LogFile> file) { m_file = std::move(file); }
    gateway::LogFile* file() { return m_file.get(); }

    void log(const std::string& text) { write(m_standardOutput, text); }
    // Several log lines in one write.
    void log(std::span<const std::string> texts)
    {
        if (m_file) {
            m_file->appendStamped(texts);
        } else {
            m_standardOutput.lines(texts);
        }
    }
    void error(const std::string& text) { write(m_standardError, text); }

private:
    void write(gateway::LineOutput& stream, const std::string& text)
    {
        if (m_file) {
            m_file->appendStamped(text);
        } else {
            stream.line(text);
        }
    }

    gateway::LineOutput m_standardOutput{stdout};
    gateway::LineOutput m_standardError{stderr};
    std::unique_ptr<gateway::LogFile> m_file;
};

// How often the program's state is looked at: its status line is published when it changed,
// and the service manager's watchdog is told the program is alive.
constexpr std::chrono::seconds stateRound{1};
// Threads that have not made a round for this long, beyond a connect attempt that the link's
// watch may be making, count as stuck: the watchdog is no longer told the program is alive,
// and the service manager restarts it.
constexpr std::chrono::seconds stuckAfter{10};
// Where no service manager shows the status line, it goes to the log at most this often.
constexpr std::chrono::minutes statusLogEvery{1};
// What a link that is down means when it is connected only once.
constexpr const char* untilRestarted =
    "; requests fail until velmor_sndd is restarted (or run with --reconnect)";

// The status line to the service manager (systemd's STATUS=) or, where it shows none, to the
// log; and the watchdog's ping while the listener and the link's watch are both alive.
class StatePublisher
{
public:
    StatePublisher(const gateway::Gateway& gateway, std::string linkName,
                   std::chrono::seconds connectTimeout,
                   std::function<void(const std::string&)> report)
        : m_gateway(gateway), m_linkName(std::move(linkName)),
          m_watchStuckAfter(stuckAfter + connectTimeout), m_report(std::move(report)),
          m_watchdog(server::serviceWatchdogInterval()),
          m_toServiceManager(server::serviceManagerShowsStatus())
    {
    }

    // Called once a round.
    void publish()
    {
        const std::string line = gateway::serviceStatusLine(m_linkName, m_gateway.link().isUp(),
                                                            m_gateway.handler().counts());
        const auto now = std::chrono::steady_clock::now();
        if (line != m_published) {
            if (m_toServiceManager) {
                server::notifyServiceManager(("STATUS=" + line).c_str());
                m_published = line;
            } else if (!m_loggedAt || now - *m_loggedAt >= statusLogEvery) {
                m_report("status: " + line);
                m_published = line;
                m_loggedAt = now;
            }
        }
        if (m_watchdog && m_gateway.listener().acceptingAlive(stuckAfter) &&
            m_gateway.link().watchAlive(m_watchStuckAfter)) {
            server::notifyServiceManager("WATCHDOG=1");
        }
    }

    // How long to wait before the next round.
    int roundMs() const
    {
        auto round = std::chrono::milliseconds(stateRound);
        if (m_watchdog) {
            round = std::min(round, *m_watchdog);
        }
        return static_cast<int>(round.count());
    }

private:
    const gateway::Gateway& m_gateway;
    const std::string m_linkName;
    const std::chrono::seconds m_watchStuckAfter;
    const std::function<void(const std::string&)> m_report;
    const std::optional<std::chrono::milliseconds> m_watchdog;
    const bool m_toServiceManager;
    std::string m_published;
    std::optional<std::chrono::steady_clock::time_point> m_loggedAt;
};

// "port 3000", "127.0.0.1, ::1 port 3000": where the listener is asked to listen.
std::string listening(const app::ProgramOptions& command)
{
    std::string where;
    for (const gateway::IpAddress& address : command.listenAddresses) {
        where += (where.empty() ? "" : ", ") + gateway::addressText(address);
    }
    return where + (where.empty() ? "" : " ") + "port " + std::to_string(command.port);
}

// Whom it serves, when not everyone, and how many at once, when limited.
std::string serving(const app::ProgramOptions& command)
{
    const std::string whom = gateway::rangesText(command.allowed);
    return (whom.empty() ? "" : ", front desks from " + whom + " only") +
           (command.maxConnections > 0
                ? ", at most " + std::to_string(command.maxConnections) + " connections"
                : "");
}

// The program's own lines, each also to the event log as the event its kind makes it (only a
// service has one to report to). The first report the system refuses is said in the log once;
// the lines go on there all the same.
std::function<void(const std::string&)> eventReports(const server::EventLog& events, Output& output)
{
    return [&events, &output,
            refused = std::make_shared<std::atomic_flag>()](const std::string& line) {
        const std::string reason = events.report(server::eventKindOf(line), line);
        if (!reason.empty() && !refused->test_and_set()) {
            output.error("velmor_sndd: " + reason + " (said once; this log has every line)");
        }
    };
}

// Serves until a stop: the listener, then the link, then the wait for the stop. state is told
// when it is ready and when it begins to stop; events has the program's own lines too.
int serve(const app::ProgramOptions& command, gateway::StopRequest& stop,
          const server::ServiceStateReport& state, const server::EventLog& events)
{
    Output output;
    const auto toEvents = eventReports(events, output);
    // A file that failed to roll over is said in the log, and where an administrator looks first
    // too, as the log file may be the one that failed.
    const auto rolloverTrouble = [&output, &toEvents](const std::string& line) {
        output.error("velmor_sndd: " + line);
        toEvents(line);
        if (output.file()) {
            std::fprintf(stderr, "velmor_sndd: %s\n", line.c_str());
        }
    };
    gateway::LogFileOptions fileOptions;
    fileOptions.keepMonths = command.keepMonths;
    if (!command.logFile.empty()) {
        try {
            gateway::LogFileOptions logOptions = fileOptions;
            logOptions.trouble = rolloverTrouble;
            output.useFile(std::make_unique<gateway::LogFile>(command.logFile, "log file",
                                                              std::move(logOptions)));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "velmor_sndd: %s\n", error.what());
            toEvents(error.what());
            return 1;
        }
    }
    // Without a file to reopen, SIGHUP is ignored rather than ending the program.
    gateway::ReopenRequest reopen;
    // With the common default of 1024, a thousand idle front-desk connections were measured to
    // starve a real request: every connection holds a descriptor for as long as it lasts.
    const std::optional<std::uint64_t> openFiles = gateway::raiseOpenFileLimit();
    const auto logText = [raw = command.rawLog](gateway::TextView line) {
        return raw ? gateway::toUtf8(line) : gateway::readableText(line);
    };
    auto log = [&output, logText](gateway::TextView line) { output.log(logText(line)); };
    // A request's lines after its text in one write, once it is answered.
    auto logLines = [&output, logText](std::span<const gateway::Text> lines) {
        std::vector<std::string> texts;
        texts.reserve(lines.size());
        for (const gateway::Text& line : lines) {
            texts.push_back(logText(line));
        }
        output.log(texts);
    };
    const std::string link = command.linkHost + ":" + std::to_string(command.linkPort);
    auto report = [&output, &toEvents](const std::string& text) {
        output.error("velmor_sndd: " + text);
        toEvents(text);
    };
    std::optional<app::KeyRecordFile> keyRecord;
    if (!command.keyRecord.empty()) {
        try {
            keyRecord.emplace(
                command.keyRecord,
                [&output, &report](const std::string& line) {
                    report(line);
                    if (output.file()) {
                        // Said where an administrator looks first, too, as the log file is
                        // likely on the same full disk.
                        std::fprintf(stderr, "velmor_sndd: %s\n", line.c_str());
                    }
                },
                fileOptions);
        } catch (const std::exception& error) {
            report(error.what());
            return 1;
        }
    }

    // A request that fails because the link is down says so, and what is being done about it.
    // Before the gateway, whose connection threads use it until the gateway is gone.
    const std::string linkDown =
        "the link to the lock system at " + link + " is down" +
        (command.reconnectSeconds > 0
             ? ", connecting again every " + std::to_string(command.reconnectSeconds) + " s"
             : untilRestarted);

    gateway::Gateway gateway(app::gatewayOptions(command), log);
    gateway.setLogLinesSink(logLines);
    if (keyRecord) {
        gateway.setRecordSink(
            [&keyRecord](const gateway::KeyRecord& record) { keyRecord->write(record); });
    }
    gateway.setFailureSink([&](const std::string& peer, const std::exception& failure) {
        const bool down = dynamic_cast<const gateway::ELinkNotConnected*>(&failure) != nullptr;
        output.error("request from " + peer +
                     " not answered: " + (down ? linkDown : gateway::describeFailure(failure)));
    });
    gateway.listener().setStatusSink(report);
    try {
        gateway.startListener();
    } catch (const std::exception& error) {
        report("cannot listen on " + listening(command) + ": " + gateway::describeFailure(error));
        return 1;
    }
    report(std::string("version ") + gateway::projectVersion() + " listening on " +
           listening(command) + serving(command) +
           (openFiles ? ", open files up to " + std::to_string(*openFiles) : std::string()));
    if (keyRecord) {
        report("keeping the key record in " + keyRecord->path());
    }
    // Off unless asked for. An address that cannot be had is said and the gateway serves on:
    // monitoring must never cost a front desk its keys, and a monitor finds the endpoint gone.
    std::optional<monitor::MonitorEndpoint> monitoring;
    if (!command.metricsListen.empty()) {
        monitoring.emplace(
            monitor::MonitorOptions{command.metricsListen, command.metricsAllowed},
            monitor::gatewayRoutes(gateway, {"velmor_sndd", link, command.reconnectSeconds}),
            [&report](const std::string& line) { report("monitoring: " + line); });
        report(monitor::startMonitoring(*monitoring));
    }
    // Declared after the gateway, so it has stopped before the link is closed.
    std::optional<gateway::LinkRecovery> recovery;
    if (command.reconnectSeconds > 0) {
        // Ready once the listener is up: the link comes in the background, and until it is up
        // requests fail at once, so a lock system that does not answer never holds the start.
        recovery.emplace(gateway.link(), link, std::chrono::seconds(command.reconnectSeconds),
                         report);
        recovery->reconnect();
    } else {
        gateway.link().letGoWhenLost();
        gateway.link().setLossSink([&](const std::string& why) {
            report("lost the link to the lock system at " + link + ": " + gateway::oneLine(why) +
                   untilRestarted);
        });
        try {
            gateway.connectLink(&stop.signal());
            report("connected to the lock system at " + link);
        } catch (const gateway::EAbort&) {
            // Stopped while connecting: the stop is reported below.
        } catch (const std::exception& error) {
            // Serving goes on: requests then fail at once, as the link is down.
            report("cannot connect to the lock system at " + link + ": " +
                   gateway::describeFailure(error) + untilRestarted);
        }
    }

    state(server::ServiceState::Running);

    StatePublisher publisher(gateway, link, std::chrono::seconds(command.connectTimeoutSeconds),
                             report);
    publisher.publish();
    for (;;) {
        const int woken =
            gateway::waitForEither(stop.signal(), reopen.signal(), publisher.roundMs());
        if (woken == 1) {
            break;
        }
        if (woken == 2) {
            reopen.signal().clear();
            const auto reopened = [&report](const std::string& what, const std::string& path,
                                            const std::string& reason) {
                report(reason.empty() ? "reopened the " + what + " " + path
                                      : "cannot reopen the " + what + " " + path + ": " + reason);
            };
            if (gateway::LogFile* file = output.file()) {
                reopened("log file", file->path(), file->reopen());
            }
            if (keyRecord) {
                reopened("key record", keyRecord->path(), keyRecord->reopen());
            }
        }
        publisher.publish();
    }
    state(server::ServiceState::Stopping);
    report("stopping: listener, then the link to " + link);
    if (recovery) {
        recovery->stop();
    }
    gateway.shutdown();
    if (monitoring) {
        monitoring->shutdown();
    }
    report("stopped");
    return 0;
}

int installService(const app::ProgramOptions& command)
{
    try {
        server::installService(command.serviceArguments);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velmor_sndd: %s\n", error.what());
        return 1;
    }
    std::printf("velmor_sndd: registered the service %s, started with Windows from now on; "
                "start it now with: sc start %s\n",
                server::serviceName, server::serviceName);
    // The service runs without it; only Event Viewer then lacks its events' text.
    try {
        server::registerEventSource();
    } catch (const std::exception& error) {
        std::fprintf(stderr,
                     "velmor_sndd: %s; the service is registered all the same, but Event Viewer "
                     "will not find the text of its events\n",
                     error.what());
    }
    return 0;
}

int uninstallService()
{
    bool removed = false;
    try {
        removed = server::uninstallService();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velmor_sndd: %s\n", error.what());
        return 1;
    }
    // With no service left, its event source goes too (also one left without a service).
    try {
        server::removeEventSource();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velmor_sndd: %s\n", error.what());
    }
    if (!removed) {
        std::printf("velmor_sndd: no service %s is registered\n", server::serviceName);
        return 0;
    }
    std::printf("velmor_sndd: removed the service %s\n", server::serviceName);
    return 0;
}

// Whether the program may have been started by the service manager: the registered command line
// has --service.
bool startedAsService(int argc, char** argv)
{
    return std::any_of(argv + 1, argv + argc,
                       [](const char* argument) { return std::string(argument) == "--service"; });
}

} // namespace

int main(int argc, char** argv)
{
    // From the first moment on: a stop during the start-up connect abandons it.
    gateway::StopRequest stop;
    gateway::useBinaryStandardStreams();

    const bool services = server::serviceRegistrationAvailable();
    app::ProgramOptions command;
    try {
        command = app::readProgramOptions(app::Program::Server, argc, argv, services);
    } catch (const gateway::UsageError& error) {
        std::fprintf(stderr, "velmor_sndd: %s\nTry 'velmor_sndd --help' for the options.\n",
                     error.what());
        // A service has no console: what keeps it from starting goes to the event log, and the
        // service manager is told that it stopped.
        if (startedAsService(argc, argv)) {
            int status = 0;
            server::runAsService(
                stop,
                [&error](const server::ServiceStateReport&) {
                    server::EventLog::open().report(
                        {server::EventId::Settings, server::EventLevel::Error},
                        std::string("the service cannot start: ") + error.what());
                    return 2;
                },
                status);
        }
        return 2;
    }
    using Action = app::ProgramOptions::Action;
    switch (command.action) {
    case Action::Help:
        std::fputs(app::programUsage(app::Program::Server, services).c_str(), stdout);
        return 0;
    case Action::Version:
        std::printf("velmor_sndd %s\n", gateway::projectVersion());
        return 0;
    case Action::Check:
        std::printf("velmor_sndd: the settings are fine (%s)\n",
                    command.settingsFile.empty()
                        ? ("no settings file at " + gateway::machineSettingsFile()).c_str()
                        : ("read from " + command.settingsFile).c_str());
        return 0;
    case Action::InstallService:
        return installService(command);
    case Action::UninstallService:
        return uninstallService();
    case Action::RunAsService: {
        // A service has no console: its lines go to a file, and its key record is kept.
        if (command.logFile.empty()) {
            command.logFile = server::serviceDataFile("velmor_sndd.log");
        }
        if (command.keyRecord.empty()) {
            command.keyRecord = server::serviceDataFile("keys.jsonl");
        }
        int status = 0;
        const server::EventLog events = server::EventLog::open();
        const bool ran = server::runAsService(
            stop,
            [&](const server::ServiceStateReport& state) {
                return serve(command, stop, state, events);
            },
            status);
        if (!ran) {
            std::fprintf(stderr, "velmor_sndd: --service is for the service manager; register "
                                 "the service with --install-service\n");
            return 2;
        }
        return status;
    }
    case Action::Run:
        break;
    }
    return serve(
        command, stop,
        [](server::ServiceState state) {
            server::notifyServiceManager(state == server::ServiceState::Running ? "READY=1"
                                                                                : "STOPPING=1");
        },
        server::EventLog());
}
