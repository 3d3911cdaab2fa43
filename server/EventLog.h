#pragma once

#include "server/EventKind.h"

#include <memory>
#include <string>

namespace server {

// The system's event log as velmor_sndd running as a service reports to it: Windows'
// Application log, under the source velmor_sndd. Elsewhere (Linux, where the journal has the
// program's lines) nothing is reported.
class EventLog
{
public:
    // Reports nowhere: a program run at a prompt has its console.
    EventLog() = default;

    // The source velmor_sndd in the Application log. When the system refuses it, every report
    // says so.
    static EventLog open();

    // From any thread: one event with the text as its message. Empty when it was reported (or
    // there is nowhere to report to), else what the system said; a refused report costs no
    // more than the refusal.
    std::string report(EventKind kind, const std::string& text) const;

private:
    struct Deregister
    {
        void operator()(void* source) const;
    };

    std::unique_ptr<void, Deregister> m_source;
    std::string m_refused;
};

// Registers the source velmor_sndd in the Application log with this program's file, whose
// message table gives its events their text (Windows; elsewhere nothing to do). Throws
// std::runtime_error with the system's reason.
void registerEventSource();

// Removes that registration. False when there was none; throws std::runtime_error with the
// system's reason.
bool removeEventSource();

} // namespace server
