// The settings file: "name = value" lines and comments, read into the same options as the
// command line, which wins; every refusal names the file and the line.

#include "app/ProgramOptions.h"
#include "app/SettingsFile.h"
#include "gateway/base/OptionReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace gateway;
using namespace app;

namespace {

const std::string file = "/etc/velmor_snd.conf";

std::string refusal(const std::string& text)
{
    try {
        parseSettings(text, file);
    } catch (const UsageError& error) {
        return error.what();
    }
    return "accepted";
}

ProgramOptions options(const std::string& text, std::vector<const char*> words = {},
                       Program program = Program::Server)
{
    words.insert(words.begin(), "program");
    return parseProgramOptions(static_cast<int>(words.size()), words.data(), false,
                               parseSettings(text, file), file, program);
}

std::string optionsRefusal(const std::string& text, Program program = Program::Server)
{
    try {
        options(text, {}, program);
    } catch (const UsageError& error) {
        return error.what();
    }
    return "accepted";
}

} // namespace

TEST(SettingsFile, LinesCommentsAndRepeats)
{
    const std::vector<Setting> settings = parseSettings("\xEF\xBB\xBF# the lock system\n"
                                                        "link-host = 10.1.2.3\r\n"
                                                        "\n"
                                                        "   # indented comment\n"
                                                        "\tallow=10.1.20.0/24   \n"
                                                        "allow = 2001:db8::/32\n"
                                                        "key-record = C:\\velmor\\keys #1.jsonl\n"
                                                        "link-port = 8264",
                                                        file);
    ASSERT_EQ(settings.size(), 5u);
    EXPECT_EQ(settings[0].name, "link-host") << "a byte order mark is no part of the name";
    EXPECT_EQ(settings[0].value, "10.1.2.3") << "nor is a CR of a Windows line end";
    EXPECT_EQ(settings[0].line, 2);
    EXPECT_EQ(settings[1].value, "10.1.20.0/24");
    EXPECT_EQ(settings[2].line, 6);
    EXPECT_EQ(settings[3].value, "C:\\velmor\\keys #1.jsonl") << "# within a value is its own";
    EXPECT_EQ(settings[4].value, "8264") << "a last line without its line end";
}

TEST(SettingsFile, BadLinesNameTheFileAndTheLine)
{
    struct Case
    {
        std::string text;
        std::string message;
    } cases[] = {
        {"link-host 10.1.2.3", file + ":1: 'link-host 10.1.2.3' is no setting: write name = value"},
        {"# fine\n= 10.1.2.3", file + ":2: a value without a name"},
        {"\n\nLink-Host = x", file + ":3: 'Link-Host' is no setting's name (lower-case letters, "
                                     "digits and -)"},
        {"--link-host = x", file + ":1: '--link-host': write the name without its --"},
        {"1st = x", file + ":1: '1st' is no setting's name (lower-case letters, digits and -)"},
        {"folio = a\x01z", file + ":1: folio: the value holds a control character"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(refusal(c.text), c.message);
    }
}

TEST(SettingsFile, ReadAsOptionsUnderTheCommandLine)
{
    const std::string text = "link-host = 10.1.2.3\n"
                             "port = 3001\n"
                             "allow = 10.1.20.0/24\n"
                             "allow = 10.1.21.0/24\n"
                             "raw-log = yes\n"
                             "reconnect = 5\n";
    const ProgramOptions fromFile = options(text);
    EXPECT_EQ(fromFile.linkHost, "10.1.2.3");
    EXPECT_EQ(fromFile.port, 3001);
    EXPECT_EQ(fromFile.allowed.size(), 2u) << "a repeated name adds to the list";
    EXPECT_TRUE(fromFile.rawLog);
    EXPECT_EQ(fromFile.reconnectSeconds, 5);
    EXPECT_EQ(fromFile.settingsFile, file);

    const ProgramOptions overridden =
        options(text, {"--link-host", "10.9.9.9", "--allow", "192.0.2.7", "--reconnect", "0"});
    EXPECT_EQ(overridden.linkHost, "10.9.9.9") << "the command line wins";
    ASSERT_EQ(overridden.allowed.size(), 1u) << "a list on the command line replaces the file's";
    EXPECT_EQ(rangeText(overridden.allowed[0]), "192.0.2.7");
    EXPECT_EQ(overridden.port, 3001) << "what the command line leaves is the file's";
    EXPECT_EQ(overridden.reconnectSeconds, 0);
    EXPECT_FALSE(options("raw-log = no").rawLog);
}

TEST(SettingsFile, EachProgramTakesWhatAppliesToIt)
{
    const std::string shared = "link-host = 10.1.2.3\n"
                               "log-file = /var/log/velmor_sndd/velmor_sndd.log\n"
                               "raw-log = yes\n"
                               "log-lines = 500\n";
    const ProgramOptions window = options(shared, {}, Program::Window);
    EXPECT_EQ(window.linkHost, "10.1.2.3");
    EXPECT_EQ(window.logFile, "/var/log/velmor_sndd/velmor_sndd.log") << "both keep a log file";
    EXPECT_FALSE(window.rawLog) << "velmor_sndd's own settings are passed over";
    EXPECT_EQ(window.logLines, 500u);
    const ProgramOptions server = options(shared, {}, Program::Server);
    EXPECT_TRUE(server.rawLog);
    EXPECT_EQ(server.logLines, 10000u) << "the window's own settings are passed over";
    EXPECT_EQ(options(shared, {"--log-lines", "20"}, Program::Window).logLines, 20u);
    EXPECT_EQ(window.reconnectSeconds, 0) << "the window's link connects once by default";
    EXPECT_EQ(options("", {}, Program::Server).reconnectSeconds, 10);
    EXPECT_EQ(options("reconnect = 10", {}, Program::Window).reconnectSeconds, 10);
    EXPECT_EQ(options("keep-months = 12", {}, Program::Window).keepMonths, 12)
        << "the window's key record rolls over too";
    EXPECT_EQ(options("keep-months = 12", {"--keep-months", "6"}).keepMonths, 6);
}

TEST(SettingsFile, BadSettingsNameTheFileTheLineAndTheOption)
{
    struct Case
    {
        std::string text;
        Program program;
        std::string message;
    } cases[] = {
        {"bogus = 1", Program::Server, file + ":1: 'bogus' is no setting"},
        {"# x\nlink-port = 70000", Program::Server,
         file + ":2: --link-port: '70000' is not a whole number from 1 to 65535"},
        {"allow = 10.0.0.0/33", Program::Window,
         file + ":1: --allow: the prefix of '10.0.0.0/33' must be a number from 0 to 32"},
        {"listen = nowhere", Program::Server,
         file + ":1: --listen: 'nowhere' is not an IPv4 or IPv6 address (or * for every "
                "address)"},
        {"link-host =", Program::Server, file + ":1: --link-host: the address is empty"},
        {"raw-log = true", Program::Server, file + ":1: raw-log: 'true' is neither yes nor no"},
        {"keep-months = 1.5", Program::Window,
         file + ":1: --keep-months: '1.5' is not a whole number from 0 to 1200"},
        {"\nkeep-months = ", Program::Server,
         file + ":2: --keep-months: '' is not a whole number from 0 to 1200"},
        {"help = yes", Program::Server, file + ":1: 'help' is for the command line only"},
        {"config = /etc/other.conf", Program::Window,
         file + ":1: 'config' is for the command line only"},
        {"service = yes", Program::Server, file + ":1: 'service' is for the command line only"},
        {"# pane\n\nlog-lines = 0", Program::Window,
         file + ":3: --log-lines: '0' is not a whole number from 1 to 100000"},
        {"log-lines = 10k", Program::Window,
         file + ":1: --log-lines: '10k' is not a whole number from 1 to 100000"},
        {"log-lines = 1000000", Program::Window,
         file + ":1: --log-lines: '1000000' is not a whole number from 1 to 100000"},
        // Passed over by velmor_sndd, but still checked, so that its --check finds it.
        {"log-lines = many", Program::Server,
         file + ":1: --log-lines: 'many' is not a whole number from 1 to 100000"},
        {"log-file =", Program::Window, file + ":1: --log-file: the file name is empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(optionsRefusal(c.text, c.program), c.message);
    }
}
