#include "gateway/ReplyFraming.h"

namespace gateway {

namespace {
constexpr char stx = 0x02;
constexpr char eot = 0x04;
} // namespace

ReplyProgress replyProgress(std::string_view bytes, std::chrono::steady_clock::duration quiet)
{
    if (bytes.empty()) {
        return {ReplyShape::Nothing, 0};
    }
    if (bytes.front() == stx) {
        const std::size_t end = bytes.find(eot);
        if (end == std::string_view::npos) {
            return {ReplyShape::Framed, 0};
        }
        return {ReplyShape::Complete, end + 1};
    }
    // Everything buffered by then is the reply, as when the wait ended at the first byte.
    if (bytes.size() >= readableReplyLength || quiet >= replyQuietTime) {
        return {ReplyShape::Complete, bytes.size()};
    }
    return {ReplyShape::Short, 0};
}

} // namespace gateway
