#include "gateway/protocol/DocumentProgress.h"

#include <gtest/gtest.h>

using namespace gateway;

namespace {

const Text exampleRequest =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    u"<!DOCTYPE keyrequest [<!ENTITY f \"123456\">]>"
    u"<keyrequest room=\"1110\" folio=\"&f;\" encoder=\"1\" key-count=\"1\" key-type=\"0\" "
    u"from-date-time=\"2020-07-16 14:00:00\" to-date-time=\"2020-07-16 14:00:00\"><!-- x -->"
    u"</keyrequest>\r\n";

bool endsInside(std::initializer_list<TextView> pieces)
{
    DocumentProgress progress;
    for (TextView piece : pieces) {
        progress.add(piece);
    }
    return progress.endsInsideDocument();
}

} // namespace

// Wherever a request is cut, the first part is a request still arriving; once whole, in
// however many pieces, it is not.
TEST(DocumentProgress, EveryCutOfAWellFormedRequestEndsInsideIt)
{
    const std::size_t rootEnd = exampleRequest.find(u"</keyrequest>") + 13;
    for (std::size_t cut = 1; cut < rootEnd; ++cut) {
        SCOPED_TRACE(cut);
        const TextView head = TextView(exampleRequest).substr(0, cut);
        EXPECT_TRUE(endsInside({head}));
        EXPECT_FALSE(endsInside({head, TextView(exampleRequest).substr(cut)}));
    }
    EXPECT_FALSE(endsInside({exampleRequest}));
}

TEST(DocumentProgress, MalformedOrFinishedTextIsReadAtOnce)
{
    struct Case
    {
        const char* what;
        Text text;
        bool endsInside;
    } cases[] = {
        {"not XML", u"hello", false},
        {"an empty element", u"<keyrequest room=\"1110\"/>", false},
        {"two requests in one piece", u"<keyrequest/><keyrequest/>", false},
        {"a second request begun", u"<keyrequest/><keyre", false},
        {"a mismatched end tag", u"<keyrequest><a></b>", false},
        // The parser judges a start tag once its ">" is there, so this still waits for more.
        {"a bad attribute, cut", u"<keyrequest room=1110", true},
        {"blanks only", u" \r\n", true},
        {"the declaration only", u"<?xml version=\"1.0\"?>", true},
        {"open element", u"<keyrequest room=\"1110\">", true},
        {"characters above ASCII in a value, cut", u"<keyrequest folio=\"caf\uFFFD", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(endsInside({c.text}), c.endsInside);
    }
}
