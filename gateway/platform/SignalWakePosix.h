#pragma once

#include "gateway/platform/SocketPlatform.h"

// For the POSIX platform files only: signals as wake signals.
namespace gateway::posix {

// From now on the signal raises the wake signal: its handler does nothing else (one write to
// the wake signal's descriptor, which is async-signal-safe), and the signal is unblocked in the
// calling thread, since one blocked by whoever started the program would never arrive.
// Throws std::logic_error when another wake signal already has the signal.
void raiseOnSignal(int signal, WakeSignal& wake);
// The signal's default handling comes back.
void restoreSignal(int signal);

} // namespace gateway::posix
