#pragma once

#include <string>

namespace gateway {

// The operator-facing text of a Windows Sockets error number; the empty text for a number
// without one.
std::string socketErrorText(int number);

} // namespace gateway
