// keyreq: a stand-in for the front-desk program. It writes key requests to the gateway and
// prints the key answers.

#include "gateway/base/Errors.h"
#include "gateway/platform/SocketPlatform.h"
#include "tools/support/ReadUntil.h"
#include "tools/support/ToolSupport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace gateway;

constexpr const char* usageText =
    "Usage: keyreq [options]\n"
    "Stands in for the front-desk program: writes a key request to the gateway, reads the\n"
    "key answer up to CR LF and prints it on one line.\n"
    "\n"
    "  --host HOST        gateway address (default 127.0.0.1)\n"
    "  --port PORT        gateway port (default 3000)\n"
    "  --source ADDRESS   connect from this IPv4 address of this machine (default: the\n"
    "                     system's choice), to stand in for another front desk\n"
    "  --room TEXT        room (default 1110)\n"
    "  --folio TEXT       folio (default 123456)\n"
    "  --encoder TEXT     encoder (default 1)\n"
    "  --key-count TEXT   number of keys (default 1)\n"
    "  --key-type TEXT    key type (default 0)\n"
    "  --from TEXT        from-date-time (default \"2020-07-16 14:00:00\")\n"
    "  --to TEXT          to-date-time (default \"2020-07-16 14:00:00\")\n"
    "  --file FILE        send the bytes of FILE as they are instead (\"-\": standard input)\n"
    "  --count N          send N requests on the same connection, each after the previous\n"
    "                     answer (default 1)\n"
    "  --pieces N         write each request in N pieces of about equal size (default 1)\n"
    "  --pause MS         wait MS milliseconds between the pieces (default 50)\n"
    "  --timeout MS       wait at most MS milliseconds to connect and for each answer\n"
    "                     (default 20000)\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 every answer is the success answer (res-code=\"0\"); 1 a failure answer\n"
    "came; 2 the connection closed or the time-out passed without an answer (or a bad\n"
    "command line); 3 no connection could be made.\n";

// The exit statuses the callers' scripts test.
enum ExitStatus
{
    exitSuccess = 0,
    exitFailureAnswer = 1,
    exitNoAnswer = 2,
    exitNoConnection = 3
};

struct Attribute
{
    const char* option;
    const char* name;
    std::string value;
};

struct Settings
{
    std::string host = "127.0.0.1";
    std::uint16_t port = 3000;
    std::optional<gateway::IpAddress> source;
    std::vector<Attribute> attributes = {
        {"--room", "room", "1110"},
        {"--folio", "folio", "123456"},
        {"--encoder", "encoder", "1"},
        {"--key-count", "key-count", "1"},
        {"--key-type", "key-type", "0"},
        {"--from", "from-date-time", "2020-07-16 14:00:00"},
        {"--to", "to-date-time", "2020-07-16 14:00:00"},
    };
    std::string givenAttributeOption; // the first attribute option on the command line
    std::string file;                 // empty: build the request from the attributes
    long long count = 1;
    int timeoutMs = 20000;
    std::size_t pieces = 1;
    int pauseMs = 50;
};

Settings parseSettings(int argc, char** argv)
{
    Settings settings;
    tools::OptionReader options(argc, argv);
    while (!options.atEnd()) {
        std::string name = options.next();
        if (name == "--help") {
            options.noValue();
            tools::exitWithHelp(usageText);
        } else if (name == "--version") {
            options.noValue();
            tools::exitWithVersion("keyreq");
        }
        bool isAttribute = false;
        for (auto& attribute : settings.attributes) {
            if (name == attribute.option) {
                attribute.value = options.value();
                isAttribute = true;
                if (settings.givenAttributeOption.empty()) {
                    settings.givenAttributeOption = name;
                }
            }
        }
        if (isAttribute) {
            continue;
        }
        if (name == "--host") {
            settings.host = tools::parseHost(name, options.value());
        } else if (name == "--port") {
            settings.port = tools::parsePort(name, options.value(), 1);
        } else if (name == "--source") {
            const std::string value = options.value();
            settings.source = gateway::parseIpAddress(value);
            if (!settings.source || settings.source->family != gateway::Family::IPv4) {
                throw tools::UsageError("--source: '" + value + "' is not an IPv4 address");
            }
        } else if (name == "--file") {
            settings.file = options.value();
            if (settings.file.empty()) {
                throw tools::UsageError("--file: the file name is empty");
            }
        } else if (name == "--count") {
            settings.count = tools::parseNumber(name, options.value(), 1, 1'000'000'000);
        } else if (name == "--pieces") {
            settings.pieces =
                static_cast<std::size_t>(tools::parseNumber(name, options.value(), 1, 1000));
        } else if (name == "--pause") {
            settings.pauseMs =
                static_cast<int>(tools::parseNumber(name, options.value(), 0, 60 * 60 * 1000));
        } else if (name == "--timeout") {
            settings.timeoutMs =
                static_cast<int>(tools::parseNumber(name, options.value(), 1, 24 * 3600 * 1000));
        } else {
            throw tools::UsageError("unknown option " + name);
        }
    }
    if (!settings.file.empty() && !settings.givenAttributeOption.empty()) {
        throw tools::UsageError("--file cannot be combined with " + settings.givenAttributeOption);
    }
    return settings;
}

// The length of the UTF-8 sequence at the start of bytes and its code point; 0 when it is
// malformed, overlong, a surrogate or beyond U+10FFFF.
std::size_t decodeUtf8(std::string_view bytes, char32_t& codePoint)
{
    auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || length > bytes.size() || lead > 0xF4) {
        return 0;
    }
    codePoint = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        auto next = static_cast<unsigned char>(bytes[i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < smallest[length] || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    return length;
}

// Attribute-value escaping that keeps the request plain ASCII: markup characters as entities,
// white space that normalisation would flatten and every non-ASCII character as character
// references. Characters XML cannot carry at all are a usage error.
std::string escapeAttribute(const Attribute& attribute)
{
    std::string_view value = attribute.value;
    std::string escaped;
    for (std::size_t i = 0; i < value.size();) {
        auto byte = static_cast<unsigned char>(value[i]);
        if (byte >= 0x80) {
            char32_t codePoint = 0;
            std::size_t length = decodeUtf8(value.substr(i), codePoint);
            if (length == 0) {
                throw tools::UsageError(std::string(attribute.option) +
                                        ": the value is not valid UTF-8");
            }
            if (codePoint == 0xFFFE || codePoint == 0xFFFF) {
                throw tools::UsageError(std::string(attribute.option) +
                                        ": U+FFFE and U+FFFF cannot stand in XML");
            }
            escaped += "&#" + std::to_string(static_cast<std::uint32_t>(codePoint)) + ";";
            i += length;
            continue;
        }
        switch (byte) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\t':
            escaped += "&#9;";
            break;
        case '\n':
            escaped += "&#10;";
            break;
        case '\r':
            escaped += "&#13;";
            break;
        default:
            if (byte < 0x20) {
                throw tools::UsageError(std::string(attribute.option) + ": control character " +
                                        tools::readableBytes(value.substr(i, 1)) +
                                        " cannot stand in XML (use --file)");
            }
            escaped += static_cast<char>(byte);
        }
        ++i;
    }
    return escaped;
}

std::string buildRequest(const Settings& settings)
{
    std::string request = "<?xml version=\"1.0\"?><keyrequest";
    for (const auto& attribute : settings.attributes) {
        request += std::string(" ") + attribute.name + "=\"" + escapeAttribute(attribute) + "\"";
    }
    request += "/>";
    return request;
}

// Throws UsageError when the file cannot be read or holds nothing.
std::string readRequestFile(const std::string& name)
{
    std::string bytes;
    if (name == "-") {
        std::ostringstream collected;
        collected << std::cin.rdbuf();
        bytes = collected.str();
        if (std::cin.bad()) {
            throw tools::UsageError("--file: standard input cannot be read");
        }
    } else {
        std::ifstream file(name, std::ios::binary);
        if (!file) {
            throw tools::UsageError("--file: cannot open '" + name + "': " + std::strerror(errno));
        }
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        if (file.bad()) {
            throw tools::UsageError("--file: cannot read '" + name + "'");
        }
    }
    if (bytes.empty()) {
        throw tools::UsageError("--file: '" + name + "' is empty, there is nothing to send");
    }
    return bytes;
}

std::string errorText(const std::exception& error)
{
    return tools::oneLine(error.what());
}

std::string leftoverText(const std::string& pending)
{
    if (pending.empty()) {
        return "";
    }
    return " (" + std::to_string(pending.size()) +
           " bytes without line end: " + tools::readableBytes(pending) + ")";
}

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    std::string request;
    if (!tools::readCommandLine("keyreq", usageText, [&] {
            settings = parseSettings(argc, argv);
            request =
                settings.file.empty() ? buildRequest(settings) : readRequestFile(settings.file);
        })) {
        return tools::exitUsage;
    }

    std::string where = settings.host + ":" + std::to_string(settings.port);
    Socket socket;
    try {
        std::uint32_t address = resolveIPv4(settings.host);
        socket = openStream(Family::IPv4);
        gateway::SystemReason refusal;
        if (settings.source && !gateway::bindAddress(socket, *settings.source, 0, &refusal)) {
            gateway::throwSocketError(refusal.number, refusal.text);
        }
        connectIPv4Within(socket, address, settings.port, settings.timeoutMs);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "keyreq: cannot connect to %s: %s\n", where.c_str(),
                     errorText(error).c_str());
        return exitNoConnection;
    }

    bool failureCame = false;
    std::string pending;
    for (long long number = 1; number <= settings.count; ++number) {
        std::string answer;
        ReadEnd outcome = ReadEnd::Closed;
        try {
            // One send per piece, so the gateway sees the request in as many pieces.
            const std::size_t pieces = std::min(settings.pieces, request.size());
            for (std::size_t piece = 0; piece < pieces; ++piece) {
                if (piece > 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(settings.pauseMs));
                }
                const std::size_t from = request.size() * piece / pieces;
                const std::size_t to = request.size() * (piece + 1) / pieces;
                sendAll(socket, std::string_view(request).substr(from, to - from));
            }
            // Up to the answer's CR LF; bytes after it stay in pending.
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(settings.timeoutMs);
            outcome = readUntil(socket, "\r\n", deadline, pending, answer);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "keyreq: request %lld: connection lost without an answer: %s%s\n",
                         number, errorText(error).c_str(), leftoverText(pending).c_str());
            return exitNoAnswer;
        }
        if (outcome == ReadEnd::Closed) {
            std::fprintf(stderr, "keyreq: request %lld: connection closed without an answer%s\n",
                         number, leftoverText(pending).c_str());
            return exitNoAnswer;
        }
        if (outcome == ReadEnd::TimedOut) {
            std::fprintf(stderr, "keyreq: request %lld: no answer within %d ms%s\n", number,
                         settings.timeoutMs, leftoverText(pending).c_str());
            return exitNoAnswer;
        }
        std::string shown = tools::readableBytes(answer) + "\n";
        std::fwrite(shown.data(), 1, shown.size(), stdout);
        std::fflush(stdout);
        if (answer.find("<keyanswer res-code=\"0\"") == std::string::npos) {
            failureCame = true;
            if (answer.find("<keyanswer res-code=\"1\"") == std::string::npos) {
                std::fprintf(stderr, "keyreq: request %lld: the answer is not a key answer\n",
                             number);
            }
        }
    }
    return failureCame ? exitFailureAnswer : exitSuccess;
}
