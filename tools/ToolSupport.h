#pragma once

// Small pieces shared by the tools: option reading, number checks and
// readable renderings of wire bytes.

#include "gateway/OptionReader.h"
#include "gateway/ReadableText.h"
#include "gateway/SocketPlatform.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tools {

using gateway::OptionReader;
using gateway::UsageError;

using gateway::parseHost;
using gateway::parseNumber;
using gateway::parsePort;

using gateway::readableBytes;

// Socket error messages carry a CR LF between number and text; tools print them on one line.
inline std::string oneLine(std::string_view message)
{
    std::string text;
    for (char c : message) {
        if (c == '\r') {
            continue;
        }
        text += c == '\n' ? ' ' : c;
    }
    return text;
}

using gateway::dottedIPv4;

} // namespace tools
