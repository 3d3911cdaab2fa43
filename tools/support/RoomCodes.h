#pragma once

#include <string>
#include <string_view>

namespace tools {

// The result code the lock-system stand-in answers an encoder command line with when the code
// comes from the room (locksim --code-by-room): the room, characters 21 to 35 of the line with
// blanks trimmed, gives its last three characters, left-padded with '0'. Every four-digit room
// of a test or load run thus has a code of its own, so an answer paired with another request's
// reply shows.
std::string codeFromRoom(std::string_view line);
// The same for the room itself, as it stands in that field.
std::string codeForRoom(std::string_view room);

} // namespace tools
