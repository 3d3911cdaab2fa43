// locksim: a stand-in for the lock system's interface server. It reads encoder command lines
// and answers each with a reply whose characters 13 to 15 hold a result code.

#include "gateway/base/Errors.h"
#include "gateway/base/LineOutput.h"
#include "gateway/platform/SocketPlatform.h"
#include "gateway/platform/StopRequest.h"
#include "tools/support/RoomCodes.h"
#include "tools/support/ToolSupport.h"

#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace gateway;

constexpr const char* usageText =
    "Usage: locksim [options]\n"
    "Stands in for the lock system's interface server: answers every encoder command line\n"
    "(ended by CR LF) with STX \"200000001\" \"RS\" CODE ETX EOT.\n"
    "\n"
    "  --host HOST        address to listen on (default 127.0.0.1)\n"
    "  --port PORT        port to listen on (default 8264; 0 picks a free one)\n"
    "  --code CODE        result code of every reply, three characters (default 001)\n"
    "  --code-by-room     result code from the room (characters 21-35 of the line, blanks\n"
    "                     trimmed): its last three characters, left-padded with '0'\n"
    "  --delay MS         wait MS milliseconds before each reply\n"
    "  --delay-line N     wait --delay before the reply to the Nth line received (over all\n"
    "                     connections) only\n"
    "  --split MS         send each reply in two pieces, the rest MS ms after the first\n"
    "  --split-at K       the first piece of a split reply is its first K characters\n"
    "                     (default 12: everything before the code)\n"
    "  --no-reply         never reply\n"
    "  --close-after N    close a connection after handling its Nth line\n"
    "  --reset-after N    reset a connection on receiving its Nth line, without replying\n"
    "  --reset-on-stop    on SIGINT or SIGTERM, reset every open connection (the peer reads a\n"
    "                     reset) instead of ending it in order (the peer reads its end)\n"
    "  --before-reply BYTES\n"
    "                     write BYTES just before each reply, in the same piece (noise on the\n"
    "                     line); BYTES take the escapes \\r \\n \\0 \\\\ and \\xNN\n"
    "  --after-reply BYTES\n"
    "                     write BYTES after each reply (a reply's tail that comes late)\n"
    "  --after-delay MS   write --after-reply's bytes MS milliseconds after the reply\n"
    "  --flood-after N    after the reply to a connection's Nth line, send --flood-bytes bytes\n"
    "                     of whole success replies that nobody asked for\n"
    "  --flood-bytes SIZE the size of that flood (default 4194304)\n"
    "  --late-partial K   with --delay, send only the first K characters of a delayed reply,\n"
    "                     and never its rest\n"
    "  --unresponsive     listen, but never accept: the accept queue is filled at once, so a\n"
    "                     connect hangs as it does on an unreachable host\n"
    "  --quiet            print nothing but the listening line\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Prints \"locksim: listening on HOST:PORT\" once listening, then for each line:\n"
    "  conn C line L: LINE -> REPLY\n"
    "with control characters shown as <STX>, <ETX>, <EOT> or <0xNN>. Ends on SIGINT or SIGTERM.\n";

constexpr int maxMilliseconds = 24 * 60 * 60 * 1000;
// How long a stop with --reset-on-stop waits for a connection's serving thread to reset it.
constexpr int resetGraceMs = 1000;

struct Settings
{
    std::string host = "127.0.0.1";
    std::uint16_t port = 8264;
    std::string code = "001";
    bool codeByRoom = false;
    int delayMs = 0;
    long long delayLine = 0; // 0: every line
    int splitMs = -1;        // negative: every reply in one piece
    std::size_t splitAt = 12;
    bool noReply = false;
    long long closeAfter = 0; // 0: never
    long long resetAfter = 0; // 0: never
    bool resetOnStop = false;
    bool quiet = false;
    bool unresponsive = false;
    std::string beforeReply;
    std::string afterReply;
    int afterDelayMs = 0;
    long long floodAfter = 0; // 0: never
    std::size_t floodBytes = 4 * 1024 * 1024;
    std::size_t latePartial = 0; // 0: the whole reply
};

// The bytes of an option's text with the escapes \r \n \0 \\ and \xNN, for control bytes on a
// command line.
std::string unescapeBytes(const std::string& option, const std::string& text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        const char kind = i + 1 < text.size() ? text[++i] : '\0';
        if (kind == 'r') {
            bytes += '\r';
        } else if (kind == 'n') {
            bytes += '\n';
        } else if (kind == '0') {
            bytes += '\0';
        } else if (kind == '\\') {
            bytes += '\\';
        } else if (kind == 'x' && i + 2 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            throw tools::UsageError(option + ": '" + text +
                                    "' has an escape other than \\r \\n \\0 \\\\ or \\xNN");
        }
    }
    return bytes;
}

// Exits the program for --help and --version; throws UsageError for everything it cannot accept.
Settings parseSettings(int argc, char** argv)
{
    Settings settings;
    bool codeGiven = false;
    tools::OptionReader options(argc, argv);
    while (!options.atEnd()) {
        std::string name = options.next();
        if (name == "--help") {
            options.noValue();
            tools::exitWithHelp(usageText);
        } else if (name == "--version") {
            options.noValue();
            tools::exitWithVersion("locksim");
        } else if (name == "--host") {
            settings.host = tools::parseHost(name, options.value());
        } else if (name == "--port") {
            settings.port = tools::parsePort(name, options.value(), 0);
        } else if (name == "--code") {
            settings.code = options.value();
            codeGiven = true;
            bool printable = true;
            for (char c : settings.code) {
                printable = printable && c >= 0x20 && c <= 0x7E;
            }
            if (settings.code.size() != 3 || !printable) {
                throw tools::UsageError("--code: '" + settings.code +
                                        "' is not three printable ASCII characters");
            }
        } else if (name == "--code-by-room") {
            options.noValue();
            settings.codeByRoom = true;
        } else if (name == "--delay") {
            settings.delayMs =
                static_cast<int>(tools::parseNumber(name, options.value(), 0, maxMilliseconds));
        } else if (name == "--delay-line") {
            settings.delayLine = tools::parseNumber(name, options.value(), 1, 1'000'000'000'000);
        } else if (name == "--split-at") {
            settings.splitAt =
                static_cast<std::size_t>(tools::parseNumber(name, options.value(), 1, 16));
        } else if (name == "--unresponsive") {
            options.noValue();
            settings.unresponsive = true;
        } else if (name == "--split") {
            settings.splitMs =
                static_cast<int>(tools::parseNumber(name, options.value(), 0, maxMilliseconds));
        } else if (name == "--no-reply") {
            options.noValue();
            settings.noReply = true;
        } else if (name == "--close-after") {
            settings.closeAfter = tools::parseNumber(name, options.value(), 1, 1'000'000'000'000);
        } else if (name == "--reset-after") {
            settings.resetAfter = tools::parseNumber(name, options.value(), 1, 1'000'000'000'000);
        } else if (name == "--reset-on-stop") {
            options.noValue();
            settings.resetOnStop = true;
        } else if (name == "--before-reply") {
            settings.beforeReply = unescapeBytes(name, options.value());
        } else if (name == "--after-reply") {
            settings.afterReply = unescapeBytes(name, options.value());
        } else if (name == "--after-delay") {
            settings.afterDelayMs =
                static_cast<int>(tools::parseNumber(name, options.value(), 0, maxMilliseconds));
        } else if (name == "--flood-after") {
            settings.floodAfter = tools::parseNumber(name, options.value(), 1, 1'000'000'000'000);
        } else if (name == "--flood-bytes") {
            settings.floodBytes = static_cast<std::size_t>(
                tools::parseNumber(name, options.value(), 1, 1'000'000'000));
        } else if (name == "--late-partial") {
            settings.latePartial =
                static_cast<std::size_t>(tools::parseNumber(name, options.value(), 1, 16));
        } else if (name == "--quiet") {
            options.noValue();
            settings.quiet = true;
        } else {
            throw tools::UsageError("unknown option " + name);
        }
    }
    if (codeGiven && settings.codeByRoom) {
        throw tools::UsageError("--code and --code-by-room exclude each other");
    }
    return settings;
}

std::string errorText(const std::exception& error)
{
    return tools::oneLine(error.what());
}

class Server
{
public:
    // A server that can no longer accept ends the program through programStop.
    Server(const Settings& settings, gateway::LineOutput& output, StopRequest& programStop)
        : m_settings(settings), m_output(output), m_programStop(programStop)
    {
        // Made before any line comes, so that the flood follows its reply at once.
        if (m_settings.floodAfter > 0) {
            while (m_flood.size() < m_settings.floodBytes) {
                m_flood += "\x02"
                           "200000001RS001\x03\x04";
            }
            m_flood.resize(m_settings.floodBytes);
        }
    }
    ~Server() { stop(); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    void start(Socket listening)
    {
        m_listening = std::move(listening);
        m_acceptThread = std::thread([this] { acceptLoop(); });
    }

    void stop()
    {
        // The listening socket goes before any connection ends: a gateway that reconnects at
        // once must be refused, not queued on a socket about to close and then reset.
        m_stopAccepting.raise();
        if (m_acceptThread.joinable()) {
            m_acceptThread.join();
        }
        m_listening.close();
        m_stop.raise();
        std::list<std::unique_ptr<Connection>> connections;
        {
            std::lock_guard lock(m_connectionsMutex);
            connections.swap(m_connections);
        }
        for (auto& connection : connections) {
            // A connection to be reset is left to its serving thread, which the stop wakes from
            // every wait but a send to a peer that does not read (a shutdown would send the
            // end of the stream before the reset). One still sending after a while is ended in
            // order: that wakes the send.
            if (!m_settings.resetOnStop || !waitForWake(connection->done, resetGraceMs)) {
                std::lock_guard lock(connection->mutex);
                connection->socket.shutdownBoth();
            }
            connection->thread.join();
        }
    }

private:
    struct Connection
    {
        long long id = 0;
        Socket socket;
        // Guards the descriptor between the serving thread's close and stop()'s shutdown.
        std::mutex mutex;
        std::atomic<bool> finished{false};
        // Raised with finished, for a stop that waits for the serving thread's own close.
        WakeSignal done;
        std::thread thread;
    };

    enum class After
    {
        Continue,
        Stop
    };

    void note(const std::string& text)
    {
        if (!m_settings.quiet) {
            m_output.line(text);
        }
    }

    void acceptLoop()
    {
        for (;;) {
            try {
                if (waitReadable(m_listening, -1, &m_stopAccepting) == Readiness::Woken) {
                    return;
                }
            } catch (const std::exception& error) {
                m_output.line("locksim: waiting for connections failed: " + errorText(error));
                m_programStop.request();
                return;
            }
            Socket accepted = acceptFrom(m_listening);
            if (!accepted.isOpen()) {
                // Out of descriptors or an aborted handshake: pause rather than spin on it.
                if (waitForWake(m_stopAccepting, 50)) {
                    return;
                }
                continue;
            }
            reapFinished();
            auto connection = std::make_unique<Connection>();
            connection->id = ++m_connectionCount;
            connection->socket = std::move(accepted);
            note("locksim: connection " + std::to_string(connection->id) + " opened");
            Connection* served = connection.get();
            try {
                served->thread = std::thread([this, served] { serve(*served); });
            } catch (const std::exception& error) {
                note("locksim: connection " + std::to_string(served->id) +
                     " dropped: " + error.what());
                continue;
            }
            std::lock_guard lock(m_connectionsMutex);
            m_connections.push_back(std::move(connection));
        }
    }

    void reapFinished()
    {
        std::lock_guard lock(m_connectionsMutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if ((*it)->finished) {
                (*it)->thread.join();
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
    }

    void serve(Connection& connection)
    {
        std::string prefix = "locksim: connection " + std::to_string(connection.id);
        std::string pending;
        long long lineCount = 0;
        char buffer[16384];
        try {
            for (bool open = true; open;) {
                if (waitReadable(connection.socket, -1, &m_stop) == Readiness::Woken) {
                    break;
                }
                std::size_t received = receiveSome(connection.socket, buffer, sizeof buffer);
                if (received == 0) {
                    std::string rest;
                    if (!pending.empty()) {
                        rest = ", " + std::to_string(pending.size()) +
                               " bytes without line end: " + tools::readableBytes(pending);
                    }
                    note(prefix + " ended by peer" + rest);
                    break;
                }
                pending.append(buffer, received);
                std::size_t start = 0;
                for (;;) {
                    auto end = pending.find("\r\n", start);
                    if (end == std::string::npos) {
                        break;
                    }
                    std::string_view line(pending.data() + start, end - start);
                    start = end + 2;
                    if (handleLine(connection, ++lineCount, line) == After::Stop) {
                        open = false;
                        break;
                    }
                }
                pending.erase(0, start);
            }
        } catch (const std::exception& error) {
            note(prefix + " failed: " + errorText(error));
        }
        {
            std::lock_guard lock(connection.mutex);
            if (m_settings.resetOnStop && m_stop.raised()) {
                abortConnection(connection.socket);
            } else {
                connection.socket.close();
            }
        }
        connection.finished = true;
        connection.done.raise();
    }

    After handleLine(Connection& connection, long long number, std::string_view line)
    {
        std::string shown;
        if (!m_settings.quiet) {
            shown = "conn " + std::to_string(connection.id) + " line " + std::to_string(number) +
                    ": " + tools::readableBytes(line) + " -> ";
        }
        if (m_settings.resetAfter == number) {
            note(shown + "reset");
            std::lock_guard lock(connection.mutex);
            abortConnection(connection.socket);
            return After::Stop;
        }
        if (m_settings.noReply) {
            note(shown + "no reply");
        } else {
            std::string reply = "\x02"
                                "200000001RS";
            reply += m_settings.codeByRoom ? tools::codeFromRoom(line) : m_settings.code;
            reply += "\x03\x04";
            // Counted over every connection: a gateway that connects anew after a reply that
            // did not come finds the stand-in answering at once on the new connection.
            const long long received = ++m_linesReceived;
            const bool delayed = m_settings.delayLine == 0 || m_settings.delayLine == received;
            if (delayed && m_settings.delayMs > 0 && waitForWake(m_stop, m_settings.delayMs)) {
                note(shown + "not sent (stopping)");
                return After::Stop;
            }
            if (delayed && m_settings.delayMs > 0 && m_settings.latePartial > 0) {
                reply.resize(std::min(reply.size(), m_settings.latePartial));
            }
            reply = m_settings.beforeReply + reply;
            try {
                if (m_settings.splitMs >= 0) {
                    std::string_view whole = reply;
                    sendAll(connection.socket, whole.substr(0, m_settings.splitAt));
                    if (waitForWake(m_stop, m_settings.splitMs)) {
                        note(shown + tools::readableBytes(whole.substr(0, m_settings.splitAt)) +
                             " (first piece only, stopping)");
                        return After::Stop;
                    }
                    sendAll(connection.socket, whole.substr(m_settings.splitAt));
                } else {
                    sendAll(connection.socket, reply);
                }
            } catch (const std::exception& error) {
                note(shown + tools::readableBytes(reply) + " (send failed: " + errorText(error) +
                     ")");
                return After::Stop;
            }
            if (!m_settings.quiet) {
                note(shown + tools::readableBytes(reply) +
                     (m_settings.splitMs >= 0 ? " (in two pieces)" : ""));
            }
            if (sendUnasked(connection, number) == After::Stop) {
                return After::Stop;
            }
        }
        if (m_settings.closeAfter == number) {
            note("locksim: connection " + std::to_string(connection.id) + " closed after line " +
                 std::to_string(number));
            return After::Stop;
        }
        return After::Continue;
    }

    // The bytes nobody asked for that follow the reply to a line: a late tail, a flood.
    After sendUnasked(Connection& connection, long long number)
    {
        try {
            if (!m_settings.afterReply.empty()) {
                if (waitForWake(m_stop, m_settings.afterDelayMs)) {
                    return After::Stop;
                }
                sendAll(connection.socket, m_settings.afterReply);
            }
            if (m_settings.floodAfter == number) {
                sendAll(connection.socket, m_flood);
                note("locksim: connection " + std::to_string(connection.id) + " flooded with " +
                     std::to_string(m_flood.size()) + " bytes after line " +
                     std::to_string(number));
            }
        } catch (const std::exception& error) {
            note("locksim: connection " + std::to_string(connection.id) +
                 " unasked-for bytes not sent: " + errorText(error));
            return After::Stop;
        }
        return After::Continue;
    }

    const Settings& m_settings;
    std::string m_flood;
    gateway::LineOutput& m_output;
    StopRequest& m_programStop;
    WakeSignal m_stopAccepting;
    WakeSignal m_stop;
    Socket m_listening;
    std::thread m_acceptThread;
    long long m_connectionCount = 0;
    std::atomic<long long> m_linesReceived{0};
    std::mutex m_connectionsMutex;
    std::list<std::unique_ptr<Connection>> m_connections;
};

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    if (!tools::readCommandLine("locksim", usageText,
                                [&] { settings = parseSettings(argc, argv); })) {
        return tools::exitUsage;
    }

    StopRequest stop;
    gateway::LineOutput output(stdout);
    Socket listening;
    // The connections that fill the accept queue of an unresponsive server.
    std::vector<Socket> queued;
    std::string where = settings.host + ":" + std::to_string(settings.port);
    try {
        std::uint32_t address = resolveIPv4(settings.host);
        where = tools::dottedIPv4(address) + ":" + std::to_string(settings.port);
        listening = openStream(Family::IPv4);
        claimListeningPort(listening);
        if (!bindIPv4(listening, address, settings.port)) {
            throwLastSocketError();
        }
        listenOn(listening, settings.unresponsive ? 0 : 128);
        where = tools::dottedIPv4(address) + ":" + std::to_string(localPort(listening));
        while (settings.unresponsive) {
            queued.push_back(openStream(Family::IPv4));
            try {
                connectIPv4Within(queued.back(), address, localPort(listening), 200);
            } catch (const EIdSocketError& error) {
                if (error.number() != 10060 || queued.size() < 2) {
                    throw;
                }
                break; // this one hangs: so will the next
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "locksim: cannot listen on %s: %s\n", where.c_str(),
                     errorText(error).c_str());
        return 1;
    }

    if (settings.unresponsive) {
        output.line("locksim: listening on " + where + ", never accepting");
        waitForWake(stop.signal(), -1);
        return 0;
    }
    Server server(settings, output, stop);
    server.start(std::move(listening));
    output.line("locksim: listening on " + where);

    waitForWake(stop.signal(), -1);
    server.stop();
    return 0;
}
