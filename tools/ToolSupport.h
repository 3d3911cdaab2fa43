#pragma once

// Small pieces shared by the tools: option reading, number checks and
// readable renderings of wire bytes.

#include "gateway/BuildInfo.h"
#include "gateway/OptionReader.h"
#include "gateway/ReadableText.h"
#include "gateway/SocketPlatform.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tools {

using gateway::OptionReader;
using gateway::projectVersion;
using gateway::UsageError;

using gateway::parseHost;
using gateway::parseNumber;
using gateway::parsePort;

using gateway::readableBytes;

using gateway::oneLine;

using gateway::dottedIPv4;

} // namespace tools
