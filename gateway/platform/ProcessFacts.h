#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// What the programs ask of the process and the system beyond sockets. Implemented
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

// True on Windows (Wine included): its paths and its ways of stopping a program are the ones a
// help text names.
bool windowsSystem();

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

// Raises the limit of open files (sockets) to the most the system allows this process and
// gives the new limit; none where the system has no such limit (Windows).
std::optional<std::uint64_t> raiseOpenFileLimit();

} // namespace gateway
