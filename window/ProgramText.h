#pragma once

#include <string>

namespace window {

class StopSignals;

// What the operator program says before it has a window: --help and --version on the console
// it was started from (a message box where there is none, on Windows), without needing a
// display; exit 0.
int showProgramText(int& argc, char** argv, const std::string& text);

// Bad settings or a bad command line: the message on standard error, and in an error box where
// there is a display to show one (a stop closes it); exit 2.
int showBadOptions(int& argc, char** argv, const std::string& message, StopSignals& stopSignals);

} // namespace window
