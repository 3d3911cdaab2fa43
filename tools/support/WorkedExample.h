#pragma once

// The worked example of one key request, written out once for the load tool, the benchmarks and
// the tests: the front desk's request, its seven values, the encoder command line it becomes,
// that line's summary and the answer to a key made. Fixed bytes, never derived, so that a test
// comparing with them compares with what the exchange must look like.

#include "gateway/base/Text.h"
#include "gateway/protocol/KeyRequestValues.h"

#include <cstddef>
#include <string_view>

namespace tools::workedExample {

// An ASCII literal held both as the bytes on the wire and as the gateway's UTF-16 text, so that
// the two can never differ; a character above ASCII does not compile.
template <std::size_t Size> class AsciiLiteral
{
public:
    consteval AsciiLiteral(const char (&literal)[Size])
    {
        for (std::size_t i = 0; i < Size; ++i) {
            if (static_cast<unsigned char>(literal[i]) > 0x7F) {
                throw "an example literal holds ASCII only";
            }
            m_bytes[i] = literal[i];
            m_text[i] = static_cast<char16_t>(literal[i]);
        }
    }

    constexpr std::string_view bytes() const { return {m_bytes, Size - 1}; }
    constexpr gateway::TextView text() const { return {m_text, Size - 1}; }

private:
    char m_bytes[Size] = {};
    char16_t m_text[Size] = {};
};

// The request's values: room 1110, folio 123456, one key of type 0 from and to
// 2020-07-16 14:00:00.
inline constexpr AsciiLiteral room{"1110"};
inline constexpr AsciiLiteral folio{"123456"};
inline constexpr AsciiLiteral encoder{"1"};
inline constexpr AsciiLiteral keyCount{"1"};
inline constexpr AsciiLiteral keyType{"0"};
inline constexpr AsciiLiteral fromDateTime{"2020-07-16 14:00:00"};
inline constexpr AsciiLiteral toDateTime{"2020-07-16 14:00:00"};

inline gateway::KeyRequestValues values()
{
    return {.room = gateway::Text(room.text()),
            .folio = gateway::Text(folio.text()),
            .encoder = gateway::Text(encoder.text()),
            .keyCount = gateway::Text(keyCount.text()),
            .keyType = gateway::Text(keyType.text()),
            .fromDateTime = gateway::Text(fromDateTime.text()),
            .toDateTime = gateway::Text(toDateTime.text())};
}

// The values as the front desk sends them.
inline constexpr AsciiLiteral request{
    R"(<?xml version="1.0" encoding="UTF-8"?>)"
    R"(<keyrequest room="1110" folio="123456" encoder="1" key-count="1" key-type="0" )"
    R"(from-date-time="2020-07-16 14:00:00" to-date-time="2020-07-16 14:00:00"/>)"};

// The encoder command line they become, as the lock system receives it (CR LF not included):
// STX, "200000001", key type code, "9999   ", the room in 15 characters, "1", encoder code,
// "FF", key count field, the to date in both date positions, "0000000000000*209", the folio,
// ETX EOT.
inline constexpr AsciiLiteral line{"\x02"
                                   "200000001"
                                   "001"
                                   "9999   "
                                   "1110           "
                                   "1"
                                   "76"
                                   "FF"
                                   "01"
                                   "0716201400"
                                   "0716201400"
                                   "0000000000000*209"
                                   "123456"
                                   "\x03\x04"};

// The line's summary, as the log shows it.
inline constexpr AsciiLiteral summary{
    "Room = [1110           ] From = [0716201400] To = [0716201400]"};

// The answer to the front desk once the lock system has made the key (code 001 or 002).
inline constexpr AsciiLiteral answer{
    R"(<?xml version="1.0" encoding="UTF-8"?> <keyanswer res-code="0" text=""/>)"};

} // namespace tools::workedExample
