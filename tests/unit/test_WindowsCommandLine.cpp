// A service's stored command line must split back into the very words it was made of: a
// log-file path with blanks, or one ending in a backslash, must not shift the options.

#include "server/WindowsCommandLine.h"

#include <gtest/gtest.h>

using namespace server;

TEST(WindowsCommandLine, EachWordIsQuotedSoItSplitsBackWhole)
{
    struct Case
    {
        std::string word;
        std::string quoted;
    } cases[] = {
        {"--port", "--port"},
        {R"(C:\Program Files\velmor\velmor_sndd.exe)",
         R"("C:\Program Files\velmor\velmor_sndd.exe")"},
        {"", R"("")"},
        {R"(C:\logs\)", R"(C:\logs\)"},          // no blank: backslashes stay as they are
        {R"(C:\my logs\)", R"("C:\my logs\\")"}, // doubled before the closing quote
        {R"(say "hi")", R"("say \"hi\"")"},
        {R"(a\"b)", R"("a\\\"b")"}, // a backslash before a quote
        {"tab\there", "\"tab\there\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(quoteWindowsArgument(c.word), c.quoted);
    }
    EXPECT_EQ(windowsCommandLine(
                  {R"(C:\Program Files\v.exe)", "--service", "--log-file", R"(C:\my logs\v.log)"}),
              R"("C:\Program Files\v.exe" --service --log-file "C:\my logs\v.log")");
}
