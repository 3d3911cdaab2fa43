#pragma once

#include "gateway/base/Text.h"
#include "support/FakeLockServer.h"
#include "tools/support/RoomCodes.h"
#include "tools/support/WorkedExample.h"

#include <optional>
#include <string>

// The requests the tests write as the front desk, the answers they expect back, and the lock
// server's rule that gives every room a result code of its own.

// The worked example (room 1110, folio 123456, one key from and to 2020-07-16 14:00:00) as the
// tests send and expect it: the request, the encoder command line it becomes as the lock system
// receives it, and that line's summary.
inline const std::string exampleRequest(tools::workedExample::request.bytes());
inline const std::string exampleLine(tools::workedExample::line.bytes());
inline const gateway::Text exampleSummary(tools::workedExample::summary.text());

// The example's room and folio for a stay, from 2020-07-16 14:00:00 to 2020-07-17 11:00:00,
// without an XML declaration.
inline const std::string stayRequest =
    R"(<keyrequest room="1110" folio="123456" encoder="1" )"
    R"(key-count="1" key-type="0" from-date-time="2020-07-16 14:00:00" )"
    R"(to-date-time="2020-07-17 11:00:00"/>)";
inline const std::string staySummary =
    "Room = [1110           ] From = [0716201400] To = [0717201100]";

inline const std::string successAnswer(tools::workedExample::answer.bytes());

inline std::string failureAnswer(const std::string& code)
{
    return R"(<?xml version="1.0" encoding="UTF-8"?> <keyanswer res-code="1" text=")" + code +
           R"("/>)";
}

// A valid request for the room, for a stay from 2020-07-16 14:00 to 2020-07-17 11:00.
inline std::string requestForRoom(const std::string& room)
{
    return R"(<keyrequest room=")" + room +
           R"(" folio="F" key-count="1" key-type="0" from-date-time="2020-07-16 14:00" )"
           R"(to-date-time="2020-07-17 11:00"/>)";
}

inline std::string requestForRoom(int room)
{
    return requestForRoom(std::to_string(room));
}

// A lock server's responder that answers with the code from the line's room, as the stand-in
// does: every request has a code of its own, so an answer paired with another request's reply
// shows.
inline std::optional<std::string> replyWithCodeFromRoom(const std::string& line)
{
    return FakeLockServer::replyWithCode(tools::codeFromRoom(line));
}

// The answer to requestForRoom(room) from a server that answers with replyWithCodeFromRoom, for
// a four-digit room: its last three digits are the code.
inline std::string answerForRoom(int room)
{
    const std::string code = std::to_string(room).substr(1);
    return code == "001" || code == "002" ? successAnswer : failureAnswer(code);
}
