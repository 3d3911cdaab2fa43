#pragma once

#include <string_view>

namespace tools {

// What a key answer says about its request in a soak run against the lock-system stand-in
// that answers with the code from the room (locksim --code-by-room).
enum class SoakAnswer
{
    Made,      // the success answer, and the room's code is a success code
    NotMade,   // the failure answer carrying the room's own code
    EmptyCode, // the failure answer with an empty code: no reply decided it (a restart)
    Wrong      // anything else: it contradicts the code the stand-in gives the room
};

// The kind of answer (one line, without its line end) to a key request for room.
SoakAnswer classifySoakAnswer(std::string_view room, std::string_view answer);

} // namespace tools
