#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>

namespace gateway {

// When the bytes received since a line was written make a whole reply. A reply opened by STX
// is framed like the command line and ends with its EOT; any other reply is whole once its
// result code can be read (15 characters), or, when shorter, once the lock system has been
// quiet for replyQuietTime. A reply is never waited for past the exchange's own wait.
inline constexpr std::size_t readableReplyLength = 15;
inline constexpr std::chrono::milliseconds replyQuietTime{100};

enum class ReplyShape
{
    Nothing,  // no byte yet
    Framed,   // opened by STX, its EOT not here yet
    Short,    // not framed, fewer than 15 characters, and not quiet for replyQuietTime yet
    Complete, // whole; see length
};

struct ReplyProgress
{
    ReplyShape shape = ReplyShape::Nothing;
    // With Complete: how many of the bytes belong to the reply. Bytes after it were not asked
    // for.
    std::size_t length = 0;
};

// quiet: how long the lock system has sent nothing since the last of the bytes.
ReplyProgress replyProgress(std::string_view bytes, std::chrono::steady_clock::duration quiet = {});

} // namespace gateway
