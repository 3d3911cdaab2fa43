#include "gateway/protocol/ReplyFraming.h"

namespace gateway {

namespace {
constexpr char stx = 0x02;
constexpr char etx = 0x03;
constexpr char eot = 0x04;

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// The EOT of the first ETX EOT at or after from; a lone EOT or ETX is a stray byte of the frame,
// not its end.
std::size_t frameEnd(std::string_view bytes, std::size_t from)
{
    for (std::size_t at = bytes.find(eot, from); at != std::string_view::npos;
         at = bytes.find(eot, at + 1)) {
        if (at > from && bytes[at - 1] == etx) {
            return at;
        }
    }
    return std::string_view::npos;
}
} // namespace

ReplyProgress replyProgress(std::string_view bytes, std::chrono::steady_clock::duration quiet)
{
    if (const std::size_t first = bytes.find(stx); first != std::string_view::npos) {
        // Every STX starts a frame anew: a head cut short before it is a leftover, never the
        // start of the reply. So the frame opens at the last STX before the first end.
        const std::size_t end = frameEnd(bytes, first + 1);
        const std::size_t start = bytes.rfind(stx, end);
        if (end == std::string_view::npos) {
            const std::size_t length = bytes.size() - start;
            return length >= longestReply ? ReplyProgress{ReplyShape::Complete, start, length}
                                          : ReplyProgress{ReplyShape::Framed, start, 0};
        }
        return {ReplyShape::Complete, start, end + 1 - start};
    }
    std::size_t stale = 0;
    while (stale < bytes.size() && isControl(bytes[stale])) {
        ++stale;
    }
    const std::size_t rest = bytes.size() - stale;
    if (rest == 0) {
        // Leftovers alone never make a reply: the wait goes on.
        return {ReplyShape::Nothing, stale, 0};
    }
    // Everything buffered by then is the reply, as when the wait ended at the first byte.
    if (rest >= readableReplyLength || quiet >= replyQuietTime) {
        return {ReplyShape::Complete, stale, rest};
    }
    return {ReplyShape::Short, stale, 0};
}

} // namespace gateway
