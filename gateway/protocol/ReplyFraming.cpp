#include "gateway/protocol/ReplyFraming.h"

namespace gateway {

namespace {
constexpr char stx = 0x02;
constexpr char eot = 0x04;

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}
} // namespace

ReplyProgress replyProgress(std::string_view bytes, std::chrono::steady_clock::duration quiet)
{
    if (const std::size_t start = bytes.find(stx); start != std::string_view::npos) {
        const std::size_t end = bytes.find(eot, start);
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
