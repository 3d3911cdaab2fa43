#include "gateway/protocol/ReplyFraming.h"

#include <gtest/gtest.h>

using namespace gateway;
using namespace std::chrono_literals;

TEST(ReplyFraming, WholeWhenFramedToItsEotOrLongEnoughForTheCode)
{
    const std::string framed = "\x02"
                               "200000001RS003\x03\x04";
    struct Case
    {
        const char* what;
        std::string bytes;
        std::chrono::milliseconds quiet;
        ReplyShape shape;
        std::size_t stale;
        std::size_t length; // with Complete
    } cases[] = {
        {"nothing yet", "", 0ms, ReplyShape::Nothing, 0, 0},
        {"framed, whole", framed, 0ms, ReplyShape::Complete, 0, framed.size()},
        {"framed, cut before its code", framed.substr(0, 12), 0ms, ReplyShape::Framed, 0, 0},
        {"framed, ETX without EOT", framed.substr(0, framed.size() - 1), 0ms, ReplyShape::Framed, 0,
         0},
        {"framed, bytes after its EOT are not its own",
         framed + "\x02"
                  "2000",
         0ms, ReplyShape::Complete, 0, framed.size()},
        {"framed, an EOT alone", "\x02\x04", 0ms, ReplyShape::Complete, 0, 2},
        {"framed, running on without its EOT", "\x02" + std::string(longestReply - 1, 'x'), 0ms,
         ReplyShape::Complete, 0, longestReply},
        {"unframed, 15 characters", "0123456789ab001", 0ms, ReplyShape::Complete, 0, 15},
        {"unframed, everything that came is the reply", std::string(40, 'x'), 0ms,
         ReplyShape::Complete, 0, 40},
        {"unframed, 14 characters", "0123456789ab00", 0ms, ReplyShape::Short, 0, 0},
        {"unframed, one character", "x", 0ms, ReplyShape::Short, 0, 0},
        {"unframed, short and quiet", "x", 100ms, ReplyShape::Complete, 0, 1},
        // Leftovers of earlier bytes before the reply: read from the first byte, characters 13
        // to 15 of these would be "001" and "RS0".
        {"CR LF and NULs before a framed reply", std::string("\r\n\0\0\0", 5) + framed, 0ms,
         ReplyShape::Complete, 5, framed.size()},
        {"printable bytes before an STX", "0000000001" + framed, 0ms, ReplyShape::Complete, 10,
         framed.size()},
        {"a reply's tail before a frame that is still coming", "\x03\x04\r\n" + framed.substr(0, 5),
         0ms, ReplyShape::Framed, 4, 0},
        {"an EOT first is no frame",
         "\x04"
         "0123456789ab001",
         0ms, ReplyShape::Complete, 1, 15},
        {"leftovers alone are no reply, however quiet", "\x03\x04\r\n", 5s, ReplyShape::Nothing, 4,
         0},
        {"a short reply after leftovers", "\r\nshort", 0ms, ReplyShape::Short, 2, 0},
        {"control characters inside an unframed reply are its own", "\r0123\n456789ab001", 0ms,
         ReplyShape::Complete, 1, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ReplyProgress progress = replyProgress(c.bytes, c.quiet);
        EXPECT_EQ(progress.shape, c.shape);
        EXPECT_EQ(progress.stale, c.stale);
        if (c.shape == ReplyShape::Complete) {
            EXPECT_EQ(progress.length, c.length);
        }
    }
}
