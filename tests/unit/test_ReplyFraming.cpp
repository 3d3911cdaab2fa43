#include "gateway/protocol/ReplyFraming.h"

#include <gtest/gtest.h>

using namespace gateway;
using namespace std::chrono_literals;

TEST(ReplyFraming, WholeWhenFramedToItsEtxEotOrLongEnoughForTheCode)
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
        {"framed, an EOT without its ETX is no end", "\x02\x04", 0ms, ReplyShape::Framed, 0, 0},
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
        // An STX starts the frame anew. Read from the first STX, characters 13 to 15 of these
        // would be "001": keys made for a reply that says 003.
        {"a head cut short before a whole frame",
         "\x02"
         "2000" +
             framed,
         0ms, ReplyShape::Complete, 5, framed.size()},
        {"a head cut short, the next frame still coming",
         "\x02"
         "2000" +
             framed.substr(0, 9),
         0ms, ReplyShape::Framed, 5, 0},
        {"a head cut short after its ETX",
         "\x02"
         "200000001RS001\x03" +
             framed,
         0ms, ReplyShape::Complete, 16, framed.size()},
        {"a frame nested in another is the reply",
         "\x02"
         "2000" +
             framed + "001\x03\x04",
         0ms, ReplyShape::Complete, 5, framed.size()},
        {"a lone EOT inside a frame is its own",
         "\x02"
         "20000\x04"
         "0001RS003\x03\x04",
         0ms, ReplyShape::Complete, 0, 18},
        {"a lone ETX inside a frame is its own",
         "\x02"
         "20000\x03"
         "0001RS003\x03\x04",
         0ms, ReplyShape::Complete, 0, 18},
        {"a head cut short by a lone EOT",
         "\x02"
         "2000\x04" +
             framed,
         0ms, ReplyShape::Complete, 6, framed.size()},
        {"an ETX EOT before any STX ends no frame", "\x03\x04" + framed, 0ms, ReplyShape::Complete,
         2, framed.size()},
        {"running on without its end counts from the last STX",
         "\x02"
         "2000\x02" +
             std::string(longestReply - 1, 'x'),
         0ms, ReplyShape::Complete, 5, longestReply},
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
