#pragma once

#include <string>

namespace gateway {

// The operator-facing text of a Windows Sockets error number; the empty text for a number
// without one.
std::string socketErrorText(int number);

// The whole message of a socket error: "Socket Error # 10061", CR LF, and its text.
std::string socketErrorMessage(int number);

} // namespace gateway
