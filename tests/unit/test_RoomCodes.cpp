#include "tools/support/RoomCodes.h"
#include "tools/support/WorkedExample.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Everything of an encoder command line before its room field: 20 characters.
const std::string beforeRoom = "\x02"
                               "200000001001"
                               "9999   ";
// Everything after the room field of the worked example's line.
const std::string afterRoom = "176FF0107162014000716201400"
                              "0000000000000*209123456\x03\x04";

} // namespace

// The stand-ins and the load tool answer each line with a code from its room: characters 21 to
// 35, blanks trimmed, the last three of them, left-padded with '0'.
TEST(RoomCodes, CodeIsTheLastThreeCharactersOfTheTrimmedRoomField)
{
    struct Case
    {
        const char* what;
        std::string line;
        std::string code;
    } cases[] = {
        {"the worked example", std::string(tools::workedExample::line.bytes()), "110"},
        {"a four-digit room", beforeRoom + "1003           " + afterRoom, "003"},
        {"a fifteen-character room", beforeRoom + "123456789012345" + afterRoom, "345"},
        {"leading blanks trimmed", beforeRoom + "   7           " + afterRoom, "007"},
        {"a short room padded", beforeRoom + "12             " + afterRoom, "012"},
        {"a blank inside kept", beforeRoom + "1 2            " + afterRoom, "1 2"},
        {"characters other than digits kept", beforeRoom + "ABCD           " + afterRoom, "BCD"},
        {"a blank room", beforeRoom + "               " + afterRoom, "000"},
        {"a longer room read to character 35 only", beforeRoom + "00000000000000002500" + afterRoom,
         "000"},
        {"the line ends inside the room", beforeRoom + "25", "025"},
        {"the line ends before the room", beforeRoom, "000"},
        {"an empty line", "", "000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(tools::codeFromRoom(c.line), c.code);
    }
}
