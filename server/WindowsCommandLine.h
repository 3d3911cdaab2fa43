#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace server {

// One command line that Windows programs split back into exactly these words (the rules of
// CommandLineToArgvW and of the C runtime: blanks and quotes quoted, backslashes before a
// quote doubled). A service's command line is stored this way.
std::string windowsCommandLine(const std::vector<std::string>& words);

// One word of it.
std::string quoteWindowsArgument(std::string_view word);

} // namespace server
