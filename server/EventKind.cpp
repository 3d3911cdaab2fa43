#include "server/EventKind.h"

namespace server {

namespace {

struct Beginning
{
    std::string_view text;
    EventKind kind;
};

using enum EventId;
using enum EventLevel;

// The first that a line begins with decides.
constexpr Beginning beginnings[] = {
    {"version ", {Service, Information}},
    {"stopping", {Service, Information}},
    {"stopped", {Service, Information}},
    {"cannot listen ", {Service, Error}},
    {"connected to the lock system ", {Link, Information}},
    {"connecting anew to the lock system ", {Link, Information}},
    {"lost the link to the lock system ", {Link, Warning}},
    {"cannot connect to the lock system ", {Link, Warning}},
    {"refused ", {Refusal, Warning}},
    // The monitoring endpoint: key requests are served without it, but a monitor loses its view.
    {"answering monitoring ", {Service, Information}},
    {"cannot answer monitoring ", {Service, Warning}},
    {"monitoring: refused ", {Refusal, Warning}},
    {"monitoring: cannot accept connections ", {Refusal, Warning}},
    {"cannot accept connections ", {Refusal, Warning}},
    {"keeping the key record in ", {Files, Information}},
    {"reopened the ", {Files, Information}},
    // The move aside is tried again in a minute, and lines go on into the file meanwhile; the
    // month files past keeping only take room.
    {"cannot move the ", {Files, Warning}},
    {"cannot remove the old ", {Files, Warning}},
    {"cannot look for old months ", {Files, Warning}},
    // At the start, after a rollover or on a reopen: lines or records are at stake.
    {"cannot open ", {Files, Error}},
    {"cannot reopen the ", {Files, Error}},
    {"cannot write to the ", {Files, Error}},
    {"status: ", {Status, Information}},
};

} // namespace

EventKind eventKindOf(std::string_view line)
{
    for (const Beginning& beginning : beginnings) {
        if (line.starts_with(beginning.text)) {
            return beginning.kind;
        }
    }
    return {Service, line.starts_with("cannot ") ? Warning : Information};
}

} // namespace server
