#pragma once

#include <cstdint>
#include <optional>

// What the tests ask of the process and the system, beyond what the programs ask: limits to run
// out of, memory to measure, and whether Wine stands in for Windows. Implemented once for POSIX
// systems and once for Windows.

// True under Wine, whose sockets differ from Windows' in a few measured ways.
bool runningUnderWine();

// The most memory the process has held at once, in KiB.
std::int64_t peakResidentKiB();

// Lets the process hold at least count open sockets (the soft limit up to the hard one);
// false when the system does not allow that many.
bool allowOpenSockets(std::uint64_t count);

// Lowers the limit of open files (sockets) to the lowest free descriptor, so that nothing more
// can be opened until raiseOpenFileLimit(); for a test that runs out of them without failing
// an open itself. False where the system has no such limit (Windows) or refuses.
bool allowNoFurtherFiles();

// Delivers SIGHUP to the process as logrotate's postrotate does, through the system; false
// where there is no such signal (Windows).
bool deliverReopenSignal();

// Caps the address space at the current size plus extraBytes, or lifts the cap again
// (nullopt); false where the system has no such cap.
bool capAddressSpace(std::optional<std::uint64_t> extraBytes);
