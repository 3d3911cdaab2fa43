#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// What the programs and tests ask of the process and the system beyond sockets. Implemented
// once for POSIX systems and once for Windows.
namespace gateway {

// The current year of the local calendar.
int localYearNow();

// The show state whoever started the program asked for (the Windows show-window values: 1
// normal, 3 maximised, 7 minimised without activation); X11 and Wayland hand a program none,
// which reads as 1.
int startupShowState();

// Standard output and error go out byte for byte: no CR added before LF (Windows' text mode
// would).
void useBinaryStandardStreams();

// Tells a service manager how the program is doing ("READY=1", "STOPPING=1"): systemd's
// notification where the program runs as a notify service, nothing anywhere else.
void notifyServiceManager(const char* state);

// How often a service manager wants to hear that the program is alive ("WATCHDOG=1"): half
// of systemd's WatchdogSec= for a notify service that has it, none anywhere else.
std::optional<std::chrono::milliseconds> serviceWatchdogInterval();

// Whether the service manager shows a running program's status line ("STATUS=...") itself:
// systemd does; elsewhere the program writes it to its log.
bool serviceManagerShowsStatus();

// The machine's folder for programs' shared data (C:\ProgramData on Windows, as its shell names
// it, so that an installer and a service agree on it); empty where there is none.
std::string programDataFolder();

// The settings file both programs read when none is named: /etc/velmor_snd.conf, or
// velmor_snd\velmor_snd.conf in the program data folder on Windows.
std::string machineSettingsFile();

// Lets a windowed program write to standard output and error: where they lead nowhere (a
// Windows GUI program started from a console has none of its own), to the console of the program
// that started it, when there is one. False when there is nowhere to write to.
bool useParentConsole();

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

// Raises the limit of open files (sockets) to the most the system allows this process and
// gives the new limit; none where the system has no such limit (Windows).
std::optional<std::uint64_t> raiseOpenFileLimit();

// Caps the address space at the current size plus extraBytes, or lifts the cap again
// (nullopt); false where the system has no such cap.
bool capAddressSpace(std::optional<std::uint64_t> extraBytes);

} // namespace gateway
