#pragma once

// Small pieces shared by the tools (locksim, keyreq, keyload): option reading, number checks,
// the --help and bad-command-line preambles, and readable renderings of wire bytes.

#include "gateway/base/BuildInfo.h"
#include "gateway/base/OptionReader.h"
#include "gateway/base/ReadableText.h"
#include "gateway/platform/SocketPlatform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tools {

// The exit status of every tool for a bad command line.
inline constexpr int exitUsage = 2;

// --help: the usage text on standard output, and the program ends with 0.
[[noreturn]] inline void exitWithHelp(const char* usageText)
{
    std::fputs(usageText, stdout);
    std::exit(0);
}

// --version: "PROGRAM VERSION" on standard output, and the program ends with 0.
[[noreturn]] inline void exitWithVersion(const char* program)
{
    std::printf("%s %s\n", program, gateway::projectVersion());
    std::exit(0);
}

// Runs read, which reads the command line. A bad one (UsageError) is reported on standard
// error as "PROGRAM: what is wrong", a blank line and the usage text, and gives false: the
// program then ends with exitUsage.
template <typename Read> bool readCommandLine(const char* program, const char* usageText, Read read)
{
    try {
        read();
        return true;
    } catch (const gateway::UsageError& error) {
        std::fprintf(stderr, "%s: %s\n\n%s", program, error.what(), usageText);
        return false;
    }
}

using gateway::OptionReader;
using gateway::UsageError;

using gateway::parseHost;
using gateway::parseNumber;
using gateway::parsePort;

using gateway::readableBytes;

using gateway::oneLine;

using gateway::dottedIPv4;

} // namespace tools
