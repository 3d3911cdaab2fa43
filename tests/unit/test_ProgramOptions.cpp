#include "app/ProgramOptions.h"
#include "gateway/base/OptionReader.h"

#include <gtest/gtest.h>

#include <vector>

using namespace gateway;
using namespace app;

namespace {

ProgramOptions parse(std::vector<const char*> words, bool withServiceOptions = false)
{
    words.insert(words.begin(), "velmor_sndd");
    return parseProgramOptions(static_cast<int>(words.size()), words.data(), withServiceOptions);
}

std::string refusal(std::vector<const char*> words, bool withServiceOptions = false)
{
    try {
        parse(std::move(words), withServiceOptions);
    } catch (const UsageError& error) {
        return error.what();
    }
    return "accepted";
}

} // namespace

TEST(ProgramOptions, ReadsEveryOption)
{
    const ProgramOptions defaults = parse({});
    EXPECT_EQ(defaults.action, ProgramOptions::Action::Run);
    EXPECT_EQ(defaults.linkHost, settings::linkHost);
    EXPECT_EQ(defaults.port, 3000);
    EXPECT_EQ(defaults.linkPort, 8264);
    EXPECT_FALSE(defaults.rawLog);

    const ProgramOptions given =
        parse({"--link-host", "locks.example", "--port=3001", "--link-port", "8265", "--raw-log",
               "--idle-timeout", "300", "--log-file", "/var/log/velmor.log", "--reconnect", "5",
               "--connect-timeout", "3"});
    EXPECT_EQ(given.linkHost, "locks.example");
    EXPECT_EQ(given.port, 3001);
    EXPECT_EQ(given.linkPort, 8265);
    EXPECT_TRUE(given.rawLog);
    EXPECT_EQ(given.idleTimeoutSeconds, 300);
    EXPECT_EQ(given.logFile, "/var/log/velmor.log");
    EXPECT_EQ(defaults.logFile, "");
    EXPECT_EQ(defaults.idleTimeoutSeconds, 0);
    EXPECT_EQ(given.reconnectSeconds, 5);
    EXPECT_EQ(defaults.reconnectSeconds, 10) << "a server left running connects again";
    EXPECT_EQ(parse({"--reconnect", "0"}).reconnectSeconds, 0) << "0: the connect-once link";
    EXPECT_EQ(given.connectTimeoutSeconds, 3);
    EXPECT_EQ(defaults.connectTimeoutSeconds, 10);
    EXPECT_EQ(defaults.keepMonths, 24) << "two years of months, as logrotate keeps them";
    EXPECT_EQ(parse({"--keep-months", "36"}).keepMonths, 36);
    EXPECT_EQ(parse({"--keep-months=0"}).keepMonths, 0) << "0: every month kept";

    EXPECT_TRUE(defaults.listenAddresses.empty()) << "every address";
    EXPECT_TRUE(defaults.allowed.empty()) << "anyone";
    EXPECT_EQ(defaults.maxConnections, 0u);
    EXPECT_EQ(defaults.keyRecord, "");
    const ProgramOptions admission =
        parse({"--listen", "127.0.0.1", "--listen=::1", "--listen", "::ffff:192.0.2.1", "--allow",
               "10.0.0.0/8", "--allow", "2001:db8::/32", "--max-connections", "20", "--key-record",
               "/var/log/velmor_sndd/keys.jsonl"});
    EXPECT_EQ(admission.listenAddresses,
              (std::vector<IpAddress>{IpAddress::ipv4(127, 0, 0, 1), *parseIpAddress("::1"),
                                      IpAddress::ipv4(192, 0, 2, 1)}))
        << "a mapped address is listened on as its IPv4 address";
    ASSERT_EQ(admission.allowed.size(), 2u);
    EXPECT_EQ(rangeText(admission.allowed[1]), "2001:db8::/32");
    EXPECT_EQ(admission.maxConnections, 20u);
    EXPECT_EQ(admission.keyRecord, "/var/log/velmor_sndd/keys.jsonl");
    EXPECT_TRUE(parse({"--listen", "*"}).listenAddresses.empty());
    EXPECT_TRUE(defaults.metricsListen.empty()) << "monitoring is off unless asked for";
    const ProgramOptions monitoring =
        parse({"--metrics-listen", "127.0.0.1:9464", "--metrics-listen=[::1]:9465",
               "--metrics-allow", "10.9.0.0/16"});
    ASSERT_EQ(monitoring.metricsListen.size(), 2u);
    EXPECT_EQ(endpointText(monitoring.metricsListen[1]), "[::1]:9465");
    ASSERT_EQ(monitoring.metricsAllowed.size(), 1u);
    EXPECT_EQ(rangeText(monitoring.metricsAllowed[0]), "10.9.0.0/16");

    EXPECT_EQ(parse({"--check"}).action, ProgramOptions::Action::Check);
    EXPECT_EQ(parse({"--config", "/srv/velmor.conf"}).settingsFile, "/srv/velmor.conf");

    EXPECT_EQ(parse({"--help"}).action, ProgramOptions::Action::Help);
    EXPECT_EQ(parse({"--version"}).action, ProgramOptions::Action::Version);
}

TEST(ProgramOptions, RefusalsNameTheOption)
{
    struct Case
    {
        std::vector<const char*> words;
        std::string message;
    } cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"start"}, "unexpected argument 'start'"},
        {{"--port"}, "--port needs a value"},
        {{"--port", "0"}, "--port: '0' is not a whole number from 1 to 65535"},
        {{"--link-port", "70000"}, "--link-port: '70000' is not a whole number from 1 to 65535"},
        {{"--port", "30x"}, "--port: '30x' is not a whole number from 1 to 65535"},
        {{"--link-host="}, "--link-host: the address is empty"},
        {{"--raw-log=yes"}, "--raw-log takes no value"},
        {{"--log-file="}, "--log-file: the file name is empty"},
        {{"--idle-timeout", "-1"}, "--idle-timeout: '-1' is not a whole number from 0 to 86400"},
        {{"--reconnect", "-1"}, "--reconnect: '-1' is not a whole number from 0 to 86400"},
        {{"--connect-timeout", "0"}, "--connect-timeout: '0' is not a whole number from 1 to 600"},
        {{"--keep-months", "-1"}, "--keep-months: '-1' is not a whole number from 0 to 1200"},
        {{"--keep-months", "1201"}, "--keep-months: '1201' is not a whole number from 0 to 1200"},
        {{"--keep-months", "2y"}, "--keep-months: '2y' is not a whole number from 0 to 1200"},
        {{"--help=me"}, "--help takes no value"},
        {{"--listen", "nowhere"},
         "--listen: 'nowhere' is not an IPv4 or IPv6 address (or * for every address)"},
        {{"--listen", "localhost"},
         "--listen: 'localhost' is not an IPv4 or IPv6 address (or * for every address)"},
        {{"--listen", "*", "--listen", "127.0.0.1"},
         "--listen: * (every address) goes alone, without other addresses"},
        {{"--listen", "127.0.0.1", "--listen", "*"},
         "--listen: * (every address) goes alone, without other addresses"},
        {{"--listen", "127.0.0.1", "--listen", "::ffff:127.0.0.1"},
         "--listen: ::ffff:127.0.0.1 is given twice"},
        {{"--allow", "10.0.0.0/33"},
         "--allow: the prefix of '10.0.0.0/33' must be a number from 0 "
         "to 32"},
        {{"--allow", "10.1.2.3/8"},
         "--allow: '10.1.2.3/8' has bits set beyond its /8 prefix; the range starts at 10.0.0.0"},
        {{"--allow", "frontdesk"}, "--allow: 'frontdesk' is not an IPv4 or IPv6 address"},
        {{"--metrics-listen", "9464"},
         "--metrics-listen: '9464' has no port: write ADDRESS:PORT, such as 127.0.0.1:9464"},
        {{"--metrics-listen", "127.0.0.1:9464", "--metrics-listen", "127.0.0.1:9464"},
         "--metrics-listen: 127.0.0.1:9464 is given twice"},
        {{"--metrics-allow", "10.1.2.3/8"},
         "--metrics-allow: '10.1.2.3/8' has bits set beyond its /8 prefix; the range starts at "
         "10.0.0.0"},
        {{"--max-connections", "-1"},
         "--max-connections: '-1' is not a whole number from 0 to 1000000"},
        {{"--key-record="}, "--key-record: the file name is empty"},
        {{"--config="}, "--config: the file name is empty"},
        {{"--link-host", "127.0.0.2 \"/ALLOW=10.0.0.0/8"},
         "--link-host: '127.0.0.2 \"/ALLOW=10.0.0.0/8' is no IPv4 address or host name"},
        {{"--link-host", "-v"}, "--link-host: '-v' is no IPv4 address or host name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(refusal(c.words), c.message);
    }
}

TEST(ProgramOptions, ServiceRegistrationKeepsTheOtherOptionsForTheServicesCommandLine)
{
    const ProgramOptions install =
        parse({"--link-host", "10.1.2.3", "--install-service", "--log-file",
               R"(C:\my logs\velmor.log)", "--reconnect=10"},
              true);
    EXPECT_EQ(install.action, ProgramOptions::Action::InstallService);
    EXPECT_EQ(install.serviceArguments,
              (std::vector<std::string>{"--service", "--link-host", "10.1.2.3", "--log-file",
                                        R"(C:\my logs\velmor.log)", "--reconnect=10"}));
    EXPECT_EQ(install.linkHost, "10.1.2.3") << "the options are checked before registering";
    EXPECT_EQ(parse({"--service", "--port", "3001"}, true).action,
              ProgramOptions::Action::RunAsService);
    EXPECT_EQ(parse({"--uninstall-service"}, true).action,
              ProgramOptions::Action::UninstallService);
    // Checked as registering would check them, and nothing registered.
    const ProgramOptions checked =
        parse({"--install-service", "--log-file", R"(C:\logs\velmor.log)", "--check"}, true);
    EXPECT_EQ(checked.action, ProgramOptions::Action::Check);
    EXPECT_TRUE(checked.serviceArguments.empty());
    EXPECT_EQ(parse({"--check", "--log-file", "velmor.log"}, true).action,
              ProgramOptions::Action::Check)
        << "a console run may log to a relative path";

    struct Case
    {
        std::vector<const char*> words;
        bool withServiceOptions;
        std::string message;
    } cases[] = {
        {{"--install-service"},
         false,
         "--install-service: Windows services only; here the velmor_sndd.service unit runs it "
         "as a service"},
        {{"--service"},
         false,
         "--service: Windows services only; here the velmor_sndd.service "
         "unit runs it as a service"},
        {{"--install-service", "--port", "0"},
         true,
         "--port: '0' is not a whole number from 1 to 65535"},
        {{"--install-service", "--log-file", "velmor.log"},
         true,
         R"(--log-file: a service needs a full path, such as C:\logs\velmor.log)"},
        {{"--install-service", "--key-record", "keys.jsonl"},
         true,
         R"(--key-record: a service needs a full path, such as C:\logs\keys.jsonl)"},
        {{"--install-service", "--log-file", "velmor.log", "--check"},
         true,
         R"(--log-file: a service needs a full path, such as C:\logs\velmor.log)"},
        {{"--install-service", "--uninstall-service"},
         true,
         "--install-service, --uninstall-service and --service go alone"},
        {{"--uninstall-service", "--port", "3001"},
         true,
         "--uninstall-service takes no other options"},
        {{"--install-service=yes"}, true, "--install-service takes no value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(refusal(c.words, c.withServiceOptions), c.message);
    }
}

TEST(ProgramOptions, TheWindowTakesTheGatewaysOptionsButNotTheServers)
{
    const auto window = [](std::vector<const char*> words) {
        words.insert(words.begin(), "velmor_snd");
        return parseProgramOptions(static_cast<int>(words.size()), words.data(), false, {}, {},
                                   Program::Window);
    };
    const ProgramOptions given =
        window({"--link-host", "10.1.2.3", "--reconnect", "10", "--allow", "10.1.20.0/24"});
    EXPECT_EQ(given.linkHost, "10.1.2.3");
    EXPECT_EQ(given.reconnectSeconds, 10);
    EXPECT_EQ(window({"--metrics-listen", "127.0.0.1:9464"}).metricsListen.size(), 1u)
        << "the window answers monitoring too";
    EXPECT_EQ(window({}).reconnectSeconds, 0);
    EXPECT_EQ(window({}).connectTimeoutSeconds, 0) << "the system's own limit";
    EXPECT_EQ(window({"--version"}).action, ProgramOptions::Action::Version);
    EXPECT_EQ(window({"--log-file", "/var/log/velmor_snd.log"}).logFile, "/var/log/velmor_snd.log")
        << "the window keeps a log file too";
    for (const char* serverOnly : {"--raw-log", "--check"}) {
        SCOPED_TRACE(serverOnly);
        EXPECT_THROW(window({serverOnly}), UsageError);
    }
}

TEST(ProgramOptions, TheLogPaneKeepsTheLinesItIsToldTo)
{
    const auto window = [](std::vector<const char*> words) {
        words.insert(words.begin(), "velmor_snd");
        return parseProgramOptions(static_cast<int>(words.size()), words.data(), false, {}, {},
                                   Program::Window);
    };
    EXPECT_EQ(window({}).logLines, 10000u);
    EXPECT_EQ(window({"--log-lines", "1"}).logLines, 1u);
    EXPECT_EQ(window({"--log-lines=100000"}).logLines, 100000u);

    struct Case
    {
        std::vector<const char*> words;
        Program program;
        std::string message;
    } cases[] = {
        {{"--log-lines", "0"},
         Program::Window,
         "--log-lines: '0' is not a whole number from 1 to 100000"},
        {{"--log-lines", "100001"},
         Program::Window,
         "--log-lines: '100001' is not a whole number from 1 to 100000"},
        {{"--log-lines", "many"},
         Program::Window,
         "--log-lines: 'many' is not a whole number from 1 to 100000"},
        {{"--log-lines", "-5"},
         Program::Window,
         "--log-lines: '-5' is not a whole number from 1 to 100000"},
        {{"--log-lines"}, Program::Window, "--log-lines needs a value"},
        {{"--log-lines", "500"},
         Program::Server,
         "--log-lines: velmor_snd only; velmor_sndd has no log pane"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<const char*> words = c.words;
        words.insert(words.begin(), "program");
        try {
            parseProgramOptions(static_cast<int>(words.size()), words.data(), false, {}, {},
                                c.program);
            ADD_FAILURE() << "accepted";
        } catch (const UsageError& error) {
            EXPECT_EQ(std::string(error.what()), c.message);
        }
    }
}
