#include "tools/support/RoomCodes.h"

namespace tools {

std::string codeFromRoom(std::string_view line)
{
    return codeForRoom(line.size() > 20 ? line.substr(20, 15) : std::string_view());
}

std::string codeForRoom(std::string_view room)
{
    const auto first = room.find_first_not_of(' ');
    room = first == std::string_view::npos ? std::string_view() : room.substr(first);
    room = room.substr(0, room.find_last_not_of(' ') + 1);
    if (room.size() > 3) {
        room = room.substr(room.size() - 3);
    }
    return std::string(3 - room.size(), '0') + std::string(room);
}

} // namespace tools
