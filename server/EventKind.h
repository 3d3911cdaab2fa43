#pragma once

#include <string_view>

namespace server {

// The events velmor_sndd's own lines make in the system's event log: an ID for each kind of
// line (the message table, EventMessages.mc, has a message of the same number for each, the
// line itself) and a level as Event Viewer shows it.
enum class EventId : unsigned short
{
    Service = 1,  // started, stopping, stopped, or not started (no listener)
    Link = 2,     // the link to the lock system connected, lost, connected again, or failing
    Refusal = 3,  // front-desk connections refused or not accepted
    Files = 4,    // the log file and the key record: opened, rolled over, written, reopened
    Settings = 5, // a bad settings file or command line: the service does not start
    Status = 6,   // the status line
};

enum class EventLevel
{
    Information,
    Warning,
    Error,
};

struct EventKind
{
    EventId id;
    EventLevel level;

    bool operator==(const EventKind&) const = default;
};

// The event for one of the program's own lines, told by how it begins (without the
// "velmor_sndd: " in front): a lost link, refused connections and failing connects warn; a log
// file or key record that cannot be opened or written, and a listener that cannot bind, are
// errors. A line of no known kind is information, or a warning when it says "cannot".
EventKind eventKindOf(std::string_view line);

} // namespace server
