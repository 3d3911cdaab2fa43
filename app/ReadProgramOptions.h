#pragma once

#include "app/ProgramOptions.h"

namespace app {

// A program's options: its settings file (the one --config names, else the machine's when it is
// there) under its command line. Throws UsageError for a file --config names that cannot be
// read, for a bad line of the file (naming the file and the line) and for a bad command line. A
// command line that asks for --help or --version is answered whatever the file holds.
ProgramOptions readProgramOptions(Program program, int argc, const char* const* argv,
                                  bool withServiceOptions = false);

} // namespace app
