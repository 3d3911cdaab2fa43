#include "gateway/ReplyFraming.h"

#include <gtest/gtest.h>

using namespace gateway;

TEST(ReplyFraming, WholeWhenFramedToItsEotOrLongEnoughForTheCode)
{
    const std::string framed = "\x02"
                               "200000001RS001\x03\x04";
    struct Case
    {
        const char* what;
        std::string bytes;
        ReplyShape shape;
        std::size_t length; // with Complete
    } cases[] = {
        {"nothing yet", "", ReplyShape::Nothing, 0},
        {"framed, whole", framed, ReplyShape::Complete, framed.size()},
        {"framed, cut before its code", framed.substr(0, 12), ReplyShape::Framed, 0},
        {"framed, ETX without EOT", framed.substr(0, framed.size() - 1), ReplyShape::Framed, 0},
        {"framed, bytes after its EOT are not its own",
         framed + "\x02"
                  "2000",
         ReplyShape::Complete, framed.size()},
        {"framed, an EOT alone", "\x02\x04", ReplyShape::Complete, 2},
        {"unframed, 15 characters", "0123456789ab001", ReplyShape::Complete, 15},
        {"unframed, everything that came is the reply", std::string(40, 'x'), ReplyShape::Complete,
         40},
        {"unframed, 14 characters", "0123456789ab00", ReplyShape::Short, 0},
        {"unframed, one character", "x", ReplyShape::Short, 0},
        {"an EOT first is no frame",
         "\x04"
         "0123456789ab001",
         ReplyShape::Complete, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ReplyProgress progress = replyProgress(c.bytes);
        EXPECT_EQ(progress.shape, c.shape);
        if (c.shape == ReplyShape::Complete) {
            EXPECT_EQ(progress.length, c.length);
        }
    }
}
