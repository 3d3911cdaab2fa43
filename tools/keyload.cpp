// keyload: load and idle measurements of the gateway.
//
// load: N front-desk clients, each on its own connection, make M key requests one after
// another through the gateway; then the same exchanges are made directly against the lock
// system (the encoder command line and CR LF out, the reply in) on N connections of their
// own. Prints requests per second, p50 and p99 latency of both, their ratios, and the answers
// that do not belong to their own request (the lock-system stand-in answers with a code taken
// from the room, so every request expects a code of its own). A third run makes all the direct
// exchanges one after another on one connection: the ceiling of a serialised link. With --pid,
// the context switches of that process (its threads and child processes) over each road's run.
//
// idle: holds K connections to the gateway open for S seconds and reports the gateway's
// processor time over that span and its resident memory, read from /proc/PID.
//
// soak: N front-desk clients ask back to back for S seconds, each checking every answer
// against the code the stand-in gives its room; a connection that ends without an answer is
// made anew. Every few seconds the gateway's resident memory, open descriptors and threads are
// sampled from /proc/PID, and the growth after the warm-up is reported.

#include "gateway/base/Errors.h"
#include "gateway/base/LineEncoding.h"
#include "gateway/platform/SocketPlatform.h"
#include "gateway/protocol/EncoderLine.h"
#include "gateway/protocol/KeyAnswer.h"
#include "gateway/protocol/KeyRequestValues.h"
#include "tools/support/ProcessStatus.h"
#include "tools/support/ReadUntil.h"
#include "tools/support/RoomCodes.h"
#include "tools/support/SoakAnswers.h"
#include "tools/support/SoakGrowth.h"
#include "tools/support/ToolSupport.h"
#include "tools/support/WorkedExample.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <latch>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace gateway;
using Clock = std::chrono::steady_clock;

constexpr const char* usageText =
    "Usage: keyload load [options]\n"
    "       keyload idle --pid PID [options]\n"
    "       keyload soak --seconds S [--pid PID] [options]\n"
    "       keyload --help | --version\n"
    "\n"
    "load: CLIENTS concurrent front-desk clients x REQUESTS key requests through the gateway,\n"
    "then the same encoder command lines sent directly to the lock system on CLIENTS\n"
    "connections, then all of them one after another on one connection (serial); the lock\n"
    "system must answer with the code from the room (locksim --code-by-room).\n"
    "  --clients N        concurrent clients (default 16; also soak's)\n"
    "  --requests M       requests per client (default 200)\n"
    "  --no-direct        skip the direct and serial exchanges\n"
    "  --only ROAD        run one road only: gateway, direct or serial\n"
    "  --pid PID          after each road, the context switches (voluntary and\n"
    "                     nonvoluntary) of process PID, its threads and its child processes\n"
    "                     over the run, in all and per answer; sampled once every client is\n"
    "                     connected and again before any connection closes\n"
    "\n"
    "idle: holds CONNECTIONS open connections for SECONDS and reports the processor time\n"
    "(utime+stime) and resident memory (VmRSS) of the gateway process PID.\n"
    "  --pid PID          the gateway's process id (required)\n"
    "  --connections K    open connections (default 200)\n"
    "  --seconds S        measuring span (default 10)\n"
    "  --request-first    make one key request on every connection before it idles\n"
    "\n"
    "soak: CLIENTS front-desk clients (default 16), each on its own connection, make key\n"
    "requests back to back for SECONDS; every answer is checked against the code the stand-in\n"
    "gives its room (locksim --code-by-room): a wrong answer is one that contradicts it. The\n"
    "failure answer with an empty code and no answer (the connection is then made anew) are\n"
    "counted apart. With --pid, the gateway's VmRSS, open descriptors and threads are sampled\n"
    "before, every SAMPLE seconds and after the clients are gone.\n"
    "  --seconds S        how long the clients ask (required)\n"
    "  --pid PID          the gateway's process id, for the samples\n"
    "  --sample-every S   seconds between samples (default 5)\n"
    "  --pause MS         each client waits MS milliseconds after an answer before it asks\n"
    "                     again (default 0: back to back)\n"
    "  --warm-up S        memory growth is measured from the first sample once S seconds\n"
    "                     (default 60) and --warm-up-requests R requests (default 10000)\n"
    "                     have passed, to the last sample of the run\n"
    "\n"
    "Common:\n"
    "  --host HOST        address of the gateway and the lock system (default 127.0.0.1)\n"
    "  --port PORT        gateway port (default 3000)\n"
    "  --lock-port PORT   lock-system port (default 8264); load sends its direct and serial\n"
    "                     roads there: a relay's port measures the relay in their place\n"
    "  --timeout MS       longest wait for a connect or an answer (default 20000)\n"
    "\n"
    "Exit status: 0 done with every answer matching, 1 mismatches or failed exchanges (soak:\n"
    "wrong answers only), 2 bad command line, 3 no connection.\n";

enum ExitStatus
{
    exitDone = 0,
    exitMismatch = 1,
    exitNoConnection = 3
};

struct Settings
{
    std::string mode;
    std::string host = "127.0.0.1";
    std::uint16_t port = 3000;
    std::uint16_t lockPort = 8264;
    int timeoutMs = 20000;
    int clients = 16;
    int requests = 200;
    bool direct = true;
    std::string only; // one road of load, or empty for all of them
    long pid = 0;
    int connections = 200;
    int seconds = 10;
    bool secondsGiven = false;
    bool requestFirst = false;
    int sampleEvery = 5;
    int pauseMs = 0;
    int warmUpSeconds = 60;
    long long warmUpRequests = 10000;
};

Settings parseSettings(int argc, char** argv)
{
    Settings settings;
    if (argc < 2) {
        throw tools::UsageError("a mode is needed: load, idle or soak");
    }
    settings.mode = argv[1];
    if (settings.mode == "--help") {
        tools::exitWithHelp(usageText);
    }
    if (settings.mode == "--version") {
        tools::exitWithVersion("keyload");
    }
    if (settings.mode != "load" && settings.mode != "idle" && settings.mode != "soak") {
        throw tools::UsageError("unknown mode '" + settings.mode + "'");
    }
    tools::OptionReader options(argc - 1, argv + 1);
    while (!options.atEnd()) {
        std::string name = options.next();
        auto number = [&](long long min, long long max) {
            return tools::parseNumber(name, options.value(), min, max);
        };
        if (name == "--help") {
            options.noValue();
            tools::exitWithHelp(usageText);
        } else if (name == "--host") {
            settings.host = tools::parseHost(name, options.value());
        } else if (name == "--port") {
            settings.port = tools::parsePort(name, options.value(), 1);
        } else if (name == "--lock-port") {
            settings.lockPort = tools::parsePort(name, options.value(), 1);
        } else if (name == "--timeout") {
            settings.timeoutMs = static_cast<int>(number(1, 3600 * 1000));
        } else if (name == "--clients") {
            settings.clients = static_cast<int>(number(1, 10000));
        } else if (name == "--requests") {
            settings.requests = static_cast<int>(number(1, 1'000'000));
        } else if (name == "--no-direct") {
            options.noValue();
            settings.direct = false;
        } else if (name == "--only") {
            settings.only = options.value();
            if (settings.only != "gateway" && settings.only != "direct" &&
                settings.only != "serial") {
                throw tools::UsageError("--only: unknown road '" + settings.only +
                                        "' (gateway, direct or serial)");
            }
        } else if (name == "--pid") {
            settings.pid = static_cast<long>(number(1, 1L << 30));
        } else if (name == "--connections") {
            settings.connections = static_cast<int>(number(1, 100000));
        } else if (name == "--seconds") {
            settings.seconds = static_cast<int>(number(1, 7 * 24 * 3600));
            settings.secondsGiven = true;
        } else if (name == "--sample-every") {
            settings.sampleEvery = static_cast<int>(number(1, 3600));
        } else if (name == "--pause") {
            settings.pauseMs = static_cast<int>(number(0, 60 * 1000));
        } else if (name == "--warm-up") {
            settings.warmUpSeconds = static_cast<int>(number(0, 24 * 3600));
        } else if (name == "--warm-up-requests") {
            settings.warmUpRequests = number(0, 1'000'000'000);
        } else if (name == "--request-first") {
            options.noValue();
            settings.requestFirst = true;
        } else {
            throw tools::UsageError("unknown option " + name);
        }
    }
    if (settings.mode == "idle" && settings.pid == 0) {
        throw tools::UsageError("idle needs --pid");
    }
    if (!settings.only.empty() && settings.only != "gateway" && !settings.direct) {
        throw tools::UsageError("--only " + settings.only + " and --no-direct leave no road");
    }
    if (settings.mode == "soak" && !settings.secondsGiven) {
        throw tools::UsageError("soak needs --seconds");
    }
    return settings;
}

// Every room of the run has its own last three digits within a client's requests, and
// neighbouring clients differ too, so an answer meant for another request shows.
int roomFor(int client, int request)
{
    return 1000 + (client * 7919 + request * 13) % 9000;
}

// The worked example for the room, for a stay to the next day's 11:00.
KeyRequestValues valuesFor(int room)
{
    KeyRequestValues values = tools::workedExample::values();
    values.room = fromUtf8(std::to_string(room));
    values.toDateTime = u"2020-07-17 11:00:00";
    return values;
}

// The request as the front desk writes it: every value an attribute, in their usual order.
std::string requestFor(int room)
{
    const KeyRequestValues values = valuesFor(room);
    const std::pair<const char*, const Text*> attributes[] = {
        {"room", &values.room},
        {"folio", &values.folio},
        {"encoder", &values.encoder},
        {"key-count", &values.keyCount},
        {"key-type", &values.keyType},
        {"from-date-time", &values.fromDateTime},
        {"to-date-time", &values.toDateTime},
    };
    std::string request = "<?xml version=\"1.0\"?><keyrequest";
    for (const auto& [name, value] : attributes) {
        request += std::string(" ") + name + "=\"" + toUtf8(*value) + "\"";
    }
    return request + "/>";
}

// The encoder command line and CR LF, as the gateway would send it for the room.
std::string lineFor(int room)
{
    KeyRequestValues values = valuesFor(room);
    return encodeLine(assembleLine(deriveFields(values, 2020), values.folio));
}

// The gateway's answer when the lock system answers the room's line with the code from its room.
std::string answerFor(int room)
{
    return toUtf8(makeKeyAnswer(fromUtf8(tools::codeForRoom(std::to_string(room)))));
}

Socket connectTo(const Settings& settings, std::uint16_t port)
{
    Socket socket = openStream(Family::IPv4);
    connectIPv4Within(socket, resolveIPv4(settings.host), port, settings.timeoutMs);
    return socket;
}

// Reads until the terminator; bytes after it stay in pending. nullopt on close or time-out.
std::optional<std::string> readMessage(const Socket& socket, std::string_view terminator,
                                       int timeoutMs, std::string& pending)
{
    std::string message;
    if (readUntil(socket, terminator, Clock::now() + std::chrono::milliseconds(timeoutMs), pending,
                  message) != ReadEnd::Found) {
        return std::nullopt;
    }
    return message;
}

struct Exchange
{
    std::string out;
    std::string expected;
};

// The way the exchanges of one load run go, through the gateway or straight to the lock system
// (the figures' "road" column): the port they go to, what goes out for a room, what must come
// back, and up to which terminator a reply reaches.
struct Route
{
    const char* name;
    std::uint16_t port;
    std::string_view terminator;
    Exchange (*make)(int room);
};

Exchange throughGateway(int room)
{
    return {requestFor(room), answerFor(room)};
}

Exchange directToLockSystem(int room)
{
    // The reply is STX "200000001RS" code ETX EOT: it ends at the EOT.
    return {lineFor(room), "\x02"
                           "200000001RS" +
                               tools::codeForRoom(std::to_string(room)) + "\x03"};
}

std::string readWholeFile(const std::filesystem::path& path)
{
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The context switches of process pid over all its threads, and of its child processes, theirs
// included (a relay that forks a process for each connection does its work in the child). A
// thread or process that ends while it is read is left out.
long long contextSwitchesOf(long pid, int depth = 0)
{
    const std::filesystem::path process = "/proc/" + std::to_string(pid);
    long long switches = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(process / "task", error), end; !error && it != end;
         it.increment(error)) {
        switches += tools::readProcessStatus(readWholeFile(it->path() / "status"))
                        .contextSwitches.value_or(0);
    }
    // Children are found by their parent, as /proc lists no children without a kernel option.
    constexpr int deepest = 4;
    if (depth < deepest) {
        for (std::filesystem::directory_iterator it("/proc", error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            if (tools::readProcessStatus(readWholeFile(it->path() / "status")).parent == pid) {
                switches += contextSwitchesOf(std::stol(name), depth + 1);
            }
        }
    }
    return switches;
}

struct Figures
{
    int clients = 0;
    long long done = 0;
    long long mismatches = 0;
    long long failures = 0;
    double seconds = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    double maxMs = 0; // a stall of the system's delayed acknowledgement (40 ms) would show here
    std::optional<long long> contextSwitches; // of the process named by --pid, over the run

    double perSecond() const { return seconds > 0 ? done / seconds : 0; }
};

double percentile(std::vector<double>& sorted, double fraction)
{
    if (sorted.empty()) {
        return 0;
    }
    auto rank = static_cast<std::size_t>(std::ceil(fraction * sorted.size()));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

// Every client connects first; the clock starts when all are connected and stops when the last
// one is done. Latency is from the send to the whole reply.
Figures runLoad(const Settings& settings, const Route& route)
{
    std::vector<std::vector<double>> latencies(settings.clients);
    std::atomic<long long> mismatches{0};
    std::atomic<long long> failures{0};
    std::atomic<int> connectFailures{0};
    std::latch ready(settings.clients + 1);
    std::latch start(1);
    // Kept open until every client is done, so that the process measured by --pid still has the
    // threads or processes that served them when it is sampled after the run.
    std::vector<std::optional<Socket>> sockets(settings.clients);
    std::vector<std::thread> threads;
    threads.reserve(settings.clients);
    for (int client = 0; client < settings.clients; ++client) {
        threads.emplace_back([&, client] {
            // Made before the clock starts, so only the exchanges themselves are timed.
            std::vector<Exchange> exchanges;
            exchanges.reserve(settings.requests);
            for (int request = 0; request < settings.requests; ++request) {
                exchanges.push_back(route.make(roomFor(client, request)));
            }
            std::optional<Socket>& socket = sockets[client];
            try {
                socket = connectTo(settings, route.port);
            } catch (const std::exception&) {
                ++connectFailures;
            }
            ready.count_down();
            start.wait();
            if (!socket) {
                return;
            }
            auto& mine = latencies[client];
            mine.reserve(settings.requests);
            std::string pending;
            for (int request = 0; request < settings.requests; ++request) {
                const Exchange& exchange = exchanges[request];
                auto sent = Clock::now();
                std::optional<std::string> reply;
                try {
                    sendAll(*socket, exchange.out);
                    reply = readMessage(*socket, route.terminator, settings.timeoutMs, pending);
                } catch (const std::exception&) {
                }
                if (!reply) {
                    // A connection without an answer is finished: what would follow on it
                    // could no longer be paired with its request.
                    failures += settings.requests - request;
                    return;
                }
                mine.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                if (*reply != exchange.expected) {
                    ++mismatches;
                }
            }
        });
    }
    ready.arrive_and_wait();
    const long long switchesBefore = settings.pid != 0 ? contextSwitchesOf(settings.pid) : 0;
    auto began = Clock::now();
    start.count_down();
    for (auto& thread : threads) {
        thread.join();
    }
    Figures figures;
    figures.seconds = std::chrono::duration<double>(Clock::now() - began).count();
    if (settings.pid != 0) {
        figures.contextSwitches = contextSwitchesOf(settings.pid) - switchesBefore;
    }
    figures.clients = settings.clients - connectFailures;
    std::vector<double> all;
    for (auto& mine : latencies) {
        all.insert(all.end(), mine.begin(), mine.end());
    }
    std::sort(all.begin(), all.end());
    figures.done = static_cast<long long>(all.size());
    figures.mismatches = mismatches;
    figures.failures = failures + static_cast<long long>(connectFailures) * settings.requests;
    figures.p50Ms = percentile(all, 0.50);
    figures.p99Ms = percentile(all, 0.99);
    figures.maxMs = all.empty() ? 0 : all.back();
    return figures;
}

void printFigures(const char* name, const Figures& figures, long pid)
{
    std::printf("%-8s %8d %9lld %10.0f %9.3f %9.3f %9.3f %11lld %9lld\n", name, figures.clients,
                figures.done, figures.perSecond(), figures.p50Ms, figures.p99Ms, figures.maxMs,
                figures.mismatches, figures.failures);
    if (figures.contextSwitches) {
        std::printf(
            "switches %-8s pid %ld: %lld, %.2f per answer\n", name, pid, *figures.contextSwitches,
            figures.done > 0 ? static_cast<double>(*figures.contextSwitches) / figures.done : 0.0);
    }
    std::fflush(stdout);
}

int runLoadMode(const Settings& settings)
{
    const Route throughGatewayRoute{"gateway", settings.port, "\r\n", throughGateway};
    const Route directRoute{"direct", settings.lockPort, "\x04", directToLockSystem};
    auto runs = [&settings](std::string_view road) {
        const bool chosen = settings.only.empty() || settings.only == road;
        return chosen && (road == "gateway" || settings.direct);
    };

    std::printf("keyload: %d clients x %d requests\n", settings.clients, settings.requests);
    std::printf("%-8s %8s %9s %10s %9s %9s %9s %11s %9s\n", "road", "clients", "answers", "req/s",
                "p50 ms", "p99 ms", "max ms", "mismatches", "failures");
    long long bad = 0;
    std::optional<Figures> viaGateway;
    if (runs("gateway")) {
        viaGateway = runLoad(settings, throughGatewayRoute);
        printFigures(throughGatewayRoute.name, *viaGateway, settings.pid);
        if (viaGateway->clients == 0) {
            std::fprintf(stderr, "keyload: no connection to the gateway\n");
            return exitNoConnection;
        }
        bad += viaGateway->mismatches + viaGateway->failures;
    }
    std::optional<Figures> direct;
    if (runs("direct")) {
        direct = runLoad(settings, directRoute);
        printFigures(directRoute.name, *direct, settings.pid);
        if (direct->clients == 0) {
            std::fprintf(stderr, "keyload: no connection to the lock system\n");
            return exitNoConnection;
        }
        bad += direct->mismatches + direct->failures;
    }
    std::optional<Figures> serial;
    if (runs("serial")) {
        // The same number of exchanges one after another on a single connection: the most
        // that any gateway can get through one link whose exchanges are serialised.
        Settings single = settings;
        single.clients = 1;
        single.requests = settings.clients * settings.requests;
        serial = runLoad(single, directRoute);
        printFigures("serial", *serial, settings.pid);
        if (serial->clients == 0) {
            std::fprintf(stderr, "keyload: no connection to the lock system\n");
            return exitNoConnection;
        }
        bad += serial->mismatches + serial->failures;
    }
    if (viaGateway && direct && serial && direct->p50Ms > 0 && direct->perSecond() > 0 &&
        serial->perSecond() > 0) {
        std::printf("ratio    p50 %.2fx  p99 %.2fx  throughput %.1f%% of direct"
                    " (%.1f%% of one serial link)\n",
                    viaGateway->p50Ms / direct->p50Ms, viaGateway->p99Ms / direct->p99Ms,
                    100.0 * viaGateway->perSecond() / direct->perSecond(),
                    100.0 * viaGateway->perSecond() / serial->perSecond());
    }
    return bad == 0 ? exitDone : exitMismatch;
}

struct ProcessSample
{
    double cpuSeconds = 0; // utime + stime
    long rssKiB = 0;
    long threads = 0;
    long descriptors = 0;
};

// utime and stime are fields 14 and 15 of /proc/PID/stat, counted after the command name,
// which is in parentheses and may hold blanks.
ProcessSample sampleProcess(long pid)
{
    ProcessSample sample;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    if (close == std::string::npos) {
        throw std::runtime_error("cannot read /proc/" + std::to_string(pid) + "/stat");
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) {
            utime = std::stoull(field);
        } else if (index == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    sample.cpuSeconds =
        static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));

    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            sample.rssKiB = std::stol(line.substr(6));
        } else if (line.rfind("Threads:", 0) == 0) {
            sample.threads = std::stol(line.substr(8));
        }
    }
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && it != end; it.increment(error)) {
        ++sample.descriptors;
    }
    return sample;
}

int runIdleMode(const Settings& settings)
{
    ProcessSample before = sampleProcess(settings.pid);
    std::vector<Socket> sockets;
    sockets.reserve(settings.connections);
    long long mismatches = 0;
    try {
        for (int i = 0; i < settings.connections; ++i) {
            sockets.push_back(connectTo(settings, settings.port));
            if (settings.requestFirst) {
                int room = roomFor(i, 0);
                sendAll(sockets.back(), requestFor(room));
                std::string pending;
                auto answer = readMessage(sockets.back(), "\r\n", settings.timeoutMs, pending);
                if (!answer || *answer != answerFor(room)) {
                    ++mismatches;
                }
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "keyload: connection %zu: %s\n", sockets.size() + 1,
                     tools::oneLine(error.what()).c_str());
        return exitNoConnection;
    }
    // The gateway serves each connection on a thread of its own: once they all run, every
    // connection has been accepted.
    auto deadline = Clock::now() + std::chrono::milliseconds(settings.timeoutMs);
    ProcessSample accepted = sampleProcess(settings.pid);
    while (accepted.threads < before.threads + settings.connections && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        accepted = sampleProcess(settings.pid);
    }
    ProcessSample start = sampleProcess(settings.pid);
    std::this_thread::sleep_for(std::chrono::seconds(settings.seconds));
    ProcessSample end = sampleProcess(settings.pid);

    double cpu = end.cpuSeconds - start.cpuSeconds;
    std::printf("keyload idle: %d connections%s held %d s\n", settings.connections,
                settings.requestFirst ? " (one request each first)" : "", settings.seconds);
    std::printf("gateway threads %ld (before %ld)\n", end.threads, before.threads);
    std::printf("gateway cpu %.2f s in %d s = %.2f%% of one core\n", cpu, settings.seconds,
                100.0 * cpu / settings.seconds);
    std::printf("gateway rss %.1f MiB (before %.1f MiB)\n", end.rssKiB / 1024.0,
                before.rssKiB / 1024.0);
    if (settings.requestFirst) {
        std::printf("answers not matching their request %lld\n", mismatches);
    }
    return mismatches == 0 ? exitDone : exitMismatch;
}

// What the soak's clients have seen so far, over all of them.
struct SoakCounts
{
    std::atomic<long long> sent{0};
    std::atomic<long long> made{0};
    std::atomic<long long> notMade{0};
    std::atomic<long long> emptyCode{0};
    std::atomic<long long> noAnswer{0};
    std::atomic<long long> wrong{0};
    std::atomic<long long> sendFailures{0};
    std::atomic<long long> connectFailures{0};
    std::mutex examplesMutex;
    std::vector<std::string> wrongExamples; // the first few, for the report
};

// One front desk: requests back to back on one connection until the deadline; a connection
// that ends without an answer is made anew, since what came on it later could no longer be
// paired with its request.
void soakClient(const Settings& settings, int client, Clock::time_point deadline,
                SoakCounts& counts)
{
    std::optional<Socket> socket;
    std::string pending;
    for (long long request = 0; Clock::now() < deadline;) {
        if (!socket) {
            try {
                socket = connectTo(settings, settings.port);
                pending.clear();
            } catch (const std::exception&) {
                ++counts.connectFailures;
                // The gateway is not there for the moment: ask again shortly, not in a loop.
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
        }
        const int room = roomFor(client, static_cast<int>(request++ % 9000));
        try {
            sendAll(*socket, requestFor(room));
        } catch (const std::exception&) {
            ++counts.sendFailures;
            socket.reset();
            continue;
        }
        ++counts.sent;
        std::optional<std::string> answer;
        try {
            answer = readMessage(*socket, "\r\n", settings.timeoutMs, pending);
        } catch (const std::exception&) {
        }
        if (!answer) {
            ++counts.noAnswer;
            socket.reset();
            continue;
        }
        switch (tools::classifySoakAnswer(std::to_string(room), *answer)) {
        case tools::SoakAnswer::Made:
            ++counts.made;
            break;
        case tools::SoakAnswer::NotMade:
            ++counts.notMade;
            break;
        case tools::SoakAnswer::EmptyCode:
            ++counts.emptyCode;
            break;
        case tools::SoakAnswer::Wrong: {
            ++counts.wrong;
            std::lock_guard lock(counts.examplesMutex);
            if (counts.wrongExamples.size() < 10) {
                counts.wrongExamples.push_back("room " + std::to_string(room) + ": " +
                                               tools::readableBytes(*answer));
            }
            break;
        }
        }
        if (settings.pauseMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(settings.pauseMs));
        }
    }
}

tools::SoakSample soakSample(const Settings& settings, double seconds, long long requests)
{
    tools::SoakSample sample{seconds, requests};
    if (settings.pid != 0) {
        const ProcessSample process = sampleProcess(settings.pid);
        sample.rssKiB = process.rssKiB;
        sample.descriptors = process.descriptors;
        sample.threads = process.threads;
    }
    return sample;
}

void printSoakSample(const tools::SoakSample& sample)
{
    std::printf("sample %7.0f s %10lld requests  rss %7ld KiB  descriptors %5ld  threads %5ld\n",
                sample.seconds, sample.requests, sample.rssKiB, sample.descriptors, sample.threads);
    std::fflush(stdout);
}

int runSoakMode(const Settings& settings)
{
    const bool sampling = settings.pid != 0;
    const tools::SoakSample before = soakSample(settings, 0, 0);
    const std::string pace =
        settings.pauseMs > 0
            ? "each pausing " + std::to_string(settings.pauseMs) + " ms after an answer"
            : "back to back";
    std::printf("keyload soak: %d clients for %d s, %s\n", settings.clients, settings.seconds,
                pace.c_str());
    if (sampling) {
        std::printf("gateway before: rss %ld KiB  descriptors %ld  threads %ld\n", before.rssKiB,
                    before.descriptors, before.threads);
    }
    std::fflush(stdout);

    SoakCounts counts;
    const auto began = Clock::now();
    const auto deadline = began + std::chrono::seconds(settings.seconds);
    std::vector<std::thread> clients;
    clients.reserve(settings.clients);
    for (int client = 0; client < settings.clients; ++client) {
        clients.emplace_back([&settings, client, deadline, &counts] {
            soakClient(settings, client, deadline, counts);
        });
    }
    std::vector<tools::SoakSample> samples;
    for (auto next = began + std::chrono::seconds(settings.sampleEvery); next <= deadline;
         next += std::chrono::seconds(settings.sampleEvery)) {
        std::this_thread::sleep_until(next);
        samples.push_back(soakSample(
            settings, std::chrono::duration<double>(Clock::now() - began).count(), counts.sent));
        printSoakSample(samples.back());
    }
    for (auto& client : clients) {
        client.join();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();

    const long long answered = counts.made + counts.notMade + counts.emptyCode + counts.wrong;
    std::printf("requests sent %lld in %.0f s (%.0f a second)\n", counts.sent.load(), seconds,
                counts.sent / seconds);
    std::printf("answers %lld: made %lld, not made %lld, failure with an empty code %lld, "
                "wrong %lld\n",
                answered, counts.made.load(), counts.notMade.load(), counts.emptyCode.load(),
                counts.wrong.load());
    std::printf("no answer %lld\n", counts.noAnswer.load());
    std::printf("wrong answers %lld\n", counts.wrong.load());
    std::printf("send failures %lld, connect failures %lld\n", counts.sendFailures.load(),
                counts.connectFailures.load());
    for (const auto& example : counts.wrongExamples) {
        std::printf("wrong: %s\n", example.c_str());
    }
    if (sampling) {
        // The gateway's connection threads end once their front desks are gone: wait for that
        // (bounded), so "after" is the gateway at rest again.
        tools::SoakSample after = soakSample(settings, seconds, counts.sent);
        const auto restDeadline = Clock::now() + std::chrono::seconds(10);
        while (after.threads > before.threads && Clock::now() < restDeadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            after = soakSample(settings, seconds, counts.sent);
        }
        const auto growth =
            tools::growthAfterWarmUp(samples, settings.warmUpSeconds, settings.warmUpRequests);
        if (growth) {
            std::printf("rss at warm-up %ld KiB (%.0f s, %lld requests), at the end %ld KiB "
                        "(%.0f s, %lld requests)\n",
                        growth->warm.rssKiB, growth->warm.seconds, growth->warm.requests,
                        growth->end.rssKiB, growth->end.seconds, growth->end.requests);
            if (growth->kiBPer10000Requests) {
                std::printf("rss growth after warm-up %.1f KiB per 10000 requests\n",
                            *growth->kiBPer10000Requests);
            }
        } else {
            std::printf("rss growth: the run ended before the warm-up did\n");
        }
        std::printf("gateway after: rss %ld KiB  descriptors %ld (before %ld)  threads %ld "
                    "(before %ld)\n",
                    after.rssKiB, after.descriptors, before.descriptors, after.threads,
                    before.threads);
    }
    return counts.wrong == 0 ? exitDone : exitMismatch;
}

// Many connections need many descriptors: the soft limit goes up to the hard one.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    if (!tools::readCommandLine("keyload", usageText,
                                [&] { settings = parseSettings(argc, argv); })) {
        return tools::exitUsage;
    }
    std::signal(SIGPIPE, SIG_IGN);
    raiseDescriptorLimit();
    try {
        if (settings.mode == "soak") {
            return runSoakMode(settings);
        }
        return settings.mode == "load" ? runLoadMode(settings) : runIdleMode(settings);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "keyload: %s\n", tools::oneLine(error.what()).c_str());
        return exitNoConnection;
    }
}
