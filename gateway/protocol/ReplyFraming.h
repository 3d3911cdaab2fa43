#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>

namespace gateway {

// When the bytes received since a line was written make a whole reply. A reply opened by STX
// is framed like the command line and ends with its ETX EOT; any other reply is whole once its
// result code can be read (15 characters), or, when shorter, once the lock system has been
// quiet for replyQuietTime. A reply is never waited for past the exchange's own wait.
//
// What comes before the reply is left over from earlier bytes (the tail of a reply that came
// after its exchange, noise on the line, the head of a frame cut short) and is not the reply's:
// every byte before the STX that opens the reply, and, when no STX has come, the control
// characters at the start. An STX inside a frame starts the frame anew, so the reply is the
// frame that holds no other STX; a lone ETX or EOT inside it is a stray byte of it, not its end.
// Read from an earlier byte, such leftovers would shift characters 13 to 15 and could turn a
// failure into "keys made".
inline constexpr std::size_t readableReplyLength = 15;
// A frame that runs on this long without its ETX EOT is taken as it is: a lock system that never
// ends one must not make the gateway hold its bytes without bound.
inline constexpr std::size_t longestReply = 32768;
inline constexpr std::chrono::milliseconds replyQuietTime{100};

enum class ReplyShape
{
    Nothing,  // no byte of a reply yet (there may be stale bytes)
    Framed,   // opened by STX, its ETX EOT not here yet
    Short,    // not framed, fewer than 15 characters, and not quiet for replyQuietTime yet
    Complete, // whole; see length
};

struct ReplyProgress
{
    ReplyShape shape = ReplyShape::Nothing;
    // How many bytes at the start are stale: not part of the reply, whatever its shape.
    std::size_t stale = 0;
    // With Complete: how many of the bytes after the stale ones belong to the reply. Bytes after
    // it were not asked for.
    std::size_t length = 0;
};

// quiet: how long the lock system has sent nothing since the last of the bytes.
ReplyProgress replyProgress(std::string_view bytes, std::chrono::steady_clock::duration quiet = {});

} // namespace gateway
