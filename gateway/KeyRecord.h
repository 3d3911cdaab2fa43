#pragma once

#include "gateway/base/IpAddress.h"
#include "gateway/base/Text.h"
#include "gateway/protocol/KeyRequestValues.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace gateway {

// Why no result code decided a request's answer, as its record says it.
namespace reasons {
inline constexpr std::string_view notSentInTime = "not sent in time";
inline constexpr std::string_view linkDown = "link down";
inline constexpr std::string_view frontDeskGone = "front desk gone";
inline constexpr std::string_view requestNotReadable = "request not readable";
inline constexpr std::string_view stopped = "stopped";
} // namespace reasons

// What became of one request that was read: who asked for which keys, what went to the lock
// system, what came back and what the front desk was told. Kept for the hotel's own record,
// which the log (made for reading along) does not replace.
struct KeyRecord
{
    enum class Answer
    {
        Made,
        NotMade,
        // No answer reached the front desk.
        None,
    };

    std::chrono::system_clock::time_point received;
    std::chrono::system_clock::time_point answered;
    // From the request's arrival to its end, on the steady clock.
    std::chrono::milliseconds took{0};
    std::optional<Endpoint> frontDesk;
    // The request's values; none when it could not be read as a key request.
    std::optional<KeyRequestValues> request;
    // The encoder line's two date fields, once they were derived.
    std::optional<Text> firstLineDate;
    std::optional<Text> secondLineDate;
    // Whether the encoder line went to the lock system in whole.
    bool lineSent = false;
    // The reply's result code, once a reply was read (it may be empty or short).
    std::optional<Text> code;
    Answer answer = Answer::None;
    // Why, when no code decided the answer (one of reasons); empty when the code did.
    std::string reason;
    // The failure that ended it, as class and message; empty when none did.
    std::string failure;
};

using KeyRecordSink = std::function<void(const KeyRecord&)>;

// The record as one line of JSON, every key always there (null where there is no value):
// received, answered, ms, front_desk, front_desk_port, room, folio, key_count, key_type,
// valid_from, valid_to (as requested), line_dates (the line's two date fields), line_sent,
// code, answer ("made", "not made", "none"), reason, failure. The two stamps are given as text.
std::string keyRecordJson(const KeyRecord& record, std::string_view receivedStamp,
                          std::string_view answeredStamp);

} // namespace gateway
