#include "gateway/protocol/KeyRequestDocument.h"

#include "gateway/base/Errors.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

using namespace gateway;

namespace {

const Text exampleRequest =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    u"<keyrequest room=\"1110\" folio=\"123456\" encoder=\"1\" key-count=\"1\" key-type=\"0\" "
    u"from-date-time=\"2020-07-16 14:00:00\" to-date-time=\"2020-07-16 14:00:00\"/>";

const KeyRequestValues exampleValues{
    u"1110", u"123456", u"1", u"1", u"0", u"2020-07-16 14:00:00", u"2020-07-16 14:00:00"};

void expectValues(const KeyRequestValues& actual, const KeyRequestValues& expected)
{
    EXPECT_EQ(actual.room, expected.room);
    EXPECT_EQ(actual.folio, expected.folio);
    EXPECT_EQ(actual.encoder, expected.encoder);
    EXPECT_EQ(actual.keyCount, expected.keyCount);
    EXPECT_EQ(actual.keyType, expected.keyType);
    EXPECT_EQ(actual.fromDateTime, expected.fromDateTime);
    EXPECT_EQ(actual.toDateTime, expected.toDateTime);
}

// The message of the parse error the text fails with, or a test failure.
std::string parseErrorOf(TextView text)
{
    try {
        readKeyRequest(text);
        ADD_FAILURE() << "loaded without a parse error";
    } catch (const EDOMParseError& error) {
        return error.what();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected failure: " << error.what();
    }
    return {};
}

// Repeats a reference to entity "name" count times.
Text references(TextView name, int count)
{
    Text out;
    for (int i = 0; i < count; ++i) {
        out += u"&" + Text(name) + u";";
    }
    return out;
}

// Entities e0 .. e9, each holding ten references to the one before.
Text nestedEntities(TextView innermost)
{
    Text subset = u"<!ENTITY e0 \"" + Text(innermost) + u"\">";
    for (int level = 1; level <= 9; ++level) {
        const Text previous = u"e" + fromUtf8(std::to_string(level - 1));
        subset += u"<!ENTITY e" + fromUtf8(std::to_string(level)) + u" \"" +
                  references(previous, 10) + u"\">";
    }
    return subset;
}

} // namespace

TEST(PrepareRequestText, RemovesEncodingDeclarationAndByteOrderMark)
{
    struct Case
    {
        const char* name;
        Text text;
        Text prepared;
    } cases[] = {
        {"UTF-8 declaration", u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>",
         u"<?xml version=\"1.0\"?><a/>"},
        {"blanks around equals, apostrophes", u"<?xml version='1.0' encoding = 'ISO-8859-1'?><a/>",
         u"<?xml version='1.0'?><a/>"},
        {"quote kinds may differ", u"<?xml version=\"1.0\" encoding=\"UTF-8'?><a/>",
         u"<?xml version=\"1.0\"?><a/>"},
        {"line break before the word stays", u"<?xml version=\"1.0\"\nencoding=\"UTF-8\"?><a/>",
         u"<?xml version=\"1.0\"\n?><a/>"},
        {"UTF-16 stays", u"<?xml version=\"1.0\" encoding=\"utf-16\"?><a/>",
         u"<?xml version=\"1.0\" encoding=\"utf-16\"?><a/>"},
        {"UCS-2 stays", u"<?xml version=\"1.0\" encoding=\"UCS-2\"?><a/>",
         u"<?xml version=\"1.0\" encoding=\"UCS-2\"?><a/>"},
        {"UNICODE stays", u"<?xml version=\"1.0\" encoding='Unicode'?><a/>",
         u"<?xml version=\"1.0\" encoding='Unicode'?><a/>"},
        {"UTF-16LE is another name", u"<?xml version=\"1.0\" encoding=\"UTF-16LE\"?><a/>",
         u"<?xml version=\"1.0\"?><a/>"},
        // The closing quote is the 50th character, then the 51st.
        {"quoted value within 50 characters",
         u"<?xml version=\"1.0\"               encoding=\"UTF-8\"?><a/>",
         u"<?xml version=\"1.0\"              ?><a/>"},
        {"quoted value beyond 50 characters",
         u"<?xml version=\"1.0\"                encoding=\"UTF-8\"?><a/>",
         u"<?xml version=\"1.0\"                encoding=\"UTF-8\"?><a/>"},
        {"no quote after the word", u"<a>encoding</a>", u"<a>encoding</a>"},
        {"any quoted value after the word", u"<keyrequest room=\"encoding\" folio=\"x\"/>",
         u"<keyrequest room=\"x\"/>"},
        {"leading byte order mark", u"\uFEFF<a/>", u"<a/>"},
        {"mark and declaration", u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>",
         u"<?xml version=\"1.0\"?><a/>"},
        {"only the first mark", u"\uFEFF\uFEFF<a/>", u"\uFEFF<a/>"},
        {"empty", u"", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(prepareRequestText(c.text), c.prepared);
    }
}

TEST(KeyRequestDocument, ReadsTheExampleRequest)
{
    expectValues(readKeyRequest(exampleRequest), exampleValues);
}

TEST(KeyRequestDocument, ReadsAttributeValuesAsTheParserDeliversThem)
{
    struct Case
    {
        const char* name;
        Text text;
        KeyRequestValues values;
    } cases[] = {
        {"values as child elements read empty",
         u"<keyrequest><room>1110</room><folio>1</folio><from-date-time>2020-07-16 14:00:00"
         u"</from-date-time></keyrequest>",
         {}},
        {"a name differing in case counts as missing",
         u"<keyrequest Room=\"1110\" folio=\"7\"/>",
         {u"", u"7", u"", u"", u"", u"", u""}},
        {"any order, further attributes",
         u"<keyrequest to-date-time=\"T\" extra=\"x\" from-date-time=\"F\" key-type=\"0\" "
         u"key-count=\"2\" encoder=\"1\" folio=\"9\" room=\"12\"/>",
         {u"12", u"9", u"1", u"2", u"0", u"F", u"T"}},
        {"references replaced",
         u"<keyrequest room=\"&#x31;&#49;10\" folio=\"A&amp;B\" "
         u"key-type=\"&lt;&gt;&quot;&apos;\"/>",
         {u"1110", u"A&B", u"", u"", u"<>\"'", u"", u""}},
        {"attribute-value normalisation",
         u"<keyrequest room=\"a\tb\r\nc\" folio=\" x&#10;y \"/>",
         {u"a b c", u" x\ny ", u"", u"", u"", u"", u""}},
        {"internal entities expanded",
         u"<!DOCTYPE keyrequest [<!ENTITY r \"1\"><!ENTITY rr \"&r;1\">]>"
         u"<keyrequest room=\"&rr;&r;0\" folio=\"&r;\"/>",
         {u"1110", u"1", u"", u"", u"", u"", u""}},
        {"content, comments and instructions ignored",
         u"<keyrequest room=\"1\"><!--room=\"2\"--><?room 3?>room<room room=\"4\"/></keyrequest>",
         {u"1", u"", u"", u"", u"", u"", u""}},
        {"local names match, the first match counts",
         u"<k:keyrequest xmlns:k=\"urn:k\" k:room=\"1\" room=\"2\" folio=\"3\"/>",
         {u"1", u"3", u"", u"", u"", u"", u""}},
        {"an undeclared prefix is no parse error",
         u"<k:keyrequest j:room=\"5\" folio=\"6\"/>",
         {u"5", u"6", u"", u"", u"", u"", u""}},
        {"characters beyond ASCII",
         u"<keyrequest room=\"Zi\u00e9mer\" folio=\"\U0001F511\"/>",
         {u"Zi\u00e9mer", u"\U0001F511", u"", u"", u"", u"", u""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            expectValues(readKeyRequest(c.text), c.values);
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
    }
}

// The characters are read as they stand, whatever encoding the text declares.
TEST(KeyRequestDocument, LoadsWhateverEncodingIsDeclared)
{
    const Text element = u"<keyrequest room=\"\u00e9\"/>";
    const Text declarations[] = {
        u"",
        u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
        u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>",
        u"<?xml version=\"1.0\" encoding = \"ISO-8859-1\" ?>",
        u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>",
        u"<?xml version=\"1.0\" encoding=\"UCS-2\"?>",
        u"<?xml version=\"1.0\" encoding=\"UNICODE\"?>",
        // Beyond the first 50 characters the declaration stays in the text.
        u"<?xml version=\"1.0\"                            encoding=\"ISO-8859-1\"?>",
        u"\uFEFF",
        u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
    };
    for (const auto& declaration : declarations) {
        SCOPED_TRACE(toUtf8(declaration));
        try {
            EXPECT_EQ(readKeyRequest(declaration + element).room, u"\u00e9");
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
    }
}

TEST(KeyRequestDocument, FailsWithParseErrorWhenNotWellFormed)
{
    struct Case
    {
        const char* name;
        Text text;
    } cases[] = {
        {"empty", u""},
        {"plain text", u"room 1110"},
        {"two requests back to back", exampleRequest + exampleRequest},
        {"first part only", exampleRequest.substr(0, 70)},
        {"unclosed quote", u"<keyrequest room=\"1110 folio=\"1\"/>"},
        {"UTF-8 byte order mark as received", u"\uFFFD\uFFFD\uFFFD<keyrequest room=\"1\"/>"},
        {"undeclared entity", u"<keyrequest room=\"&r;\"/>"},
        {"NUL after the element", Text(u"<keyrequest room=\"1\"/>\0<x/>", 27)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(parseErrorOf(c.text).empty());
    }
}

TEST(KeyRequestDocument, ParseErrorMessageGivesKindLineAndSource)
{
    struct Case
    {
        Text text;
        std::string message;
    } cases[] = {
        {u"<a></b>", "Opening and ending tag mismatch: a line 1 and b\r\nLine: 1\r\n<a></b>"},
        {u"", "Document is empty\r\nLine: 1\r\n"},
        // Line three, cut at 40 characters.
        {u"<keyrequest\r\n room=\"1\">\r\n<x>0123456789012345678901234567890123456789</y>\r\n"
         u"</keyrequest>",
         "Opening and ending tag mismatch: x line 3 and y\r\nLine: 3\r\n"
         "<x>0123456789012345678901234567890123456"},
        // The source shown is the text as parsed, without the encoding declaration.
        {u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><keyrequest room=\"1\"/><b/>",
         "Extra content at the end of the document\r\nLine: 1\r\n"
         "<?xml version=\"1.0\"?><keyrequest room=\"1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.text));
        EXPECT_EQ(parseErrorOf(c.text), c.message);
    }
}

TEST(KeyRequestDocument, FailsWithDocumentErrorWithoutKeyRequestElement)
{
    const Text texts[] = {
        u"<KeyRequest room=\"1110\"/>",
        u"<keyrequests room=\"1110\"/>",
        u"<request><keyrequest room=\"1110\"/></request>",
        u"<!DOCTYPE keyrequest><request/>",
        u"<!--keyrequest--><?keyrequest?><request/>",
    };
    for (const auto& text : texts) {
        SCOPED_TRACE(toUtf8(text));
        try {
            readKeyRequest(text);
            ADD_FAILURE() << "loaded without a document error";
        } catch (const EXMLDocError& error) {
            EXPECT_STREQ(error.what(), "Node \"keyrequest\" not found");
        } catch (const std::exception& error) {
            ADD_FAILURE() << "unexpected failure: " << error.what();
        }
    }
}

TEST(KeyRequestDocument, EntityExpansionBombsFailAsParseErrors)
{
    const Text laughs = u"<!DOCTYPE keyrequest [" + nestedEntities(u"lollollollol") + u"]>";
    const Text empties = u"<!DOCTYPE keyrequest [" + nestedEntities(u"") + u"]>";
    const Text wide = u"<!DOCTYPE keyrequest [<!ENTITY w \"" + Text(20000, u'w') + u"\">]>";
    struct Case
    {
        const char* name;
        Text text;
    } cases[] = {
        {"billion laughs in an attribute", laughs + u"<keyrequest room=\"&e9;\"/>"},
        {"billion laughs in content", laughs + u"<keyrequest room=\"1\">&e9;</keyrequest>"},
        {"nested empty entities in an attribute", empties + u"<keyrequest room=\"&e9;\"/>"},
        {"one wide entity repeated in an attribute",
         wide + u"<keyrequest room=\"" + references(u"w", 200) + u"\"/>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(parseErrorOf(c.text).empty());
    }
}

// Files named by the request must never be read: their text would show in a value.
class KeyRequestExternalEntity : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const auto base = std::filesystem::temp_directory_path() /
                          ("keyrequest-" + std::to_string(std::random_device{}()));
        m_textPath = base.string() + ".txt";
        m_dtdPath = base.string() + ".dtd";
        std::ofstream(m_textPath) << secret;
        std::ofstream(m_dtdPath) << "<!ENTITY leak \"" << secret
                                 << "\"><!ATTLIST keyrequest room CDATA \"" << secret << "\">";
    }

    void TearDown() override
    {
        std::filesystem::remove(m_textPath);
        std::filesystem::remove(m_dtdPath);
    }

    // Loads the text and checks that the secret shows nowhere; true when it loaded.
    bool loadsWithoutLeak(const std::string& utf8)
    {
        try {
            const KeyRequestValues values = readKeyRequest(fromUtf8(utf8));
            for (const Text* value :
                 {&values.room, &values.folio, &values.encoder, &values.keyCount, &values.keyType,
                  &values.fromDateTime, &values.toDateTime}) {
                const std::string text = toUtf8(*value);
                EXPECT_EQ(text.find(secret), std::string::npos) << text;
                EXPECT_EQ(text.find("root:"), std::string::npos) << text;
            }
            return true;
        } catch (const Exception& error) {
            EXPECT_EQ(std::string(error.what()).find(secret), std::string::npos);
            return false;
        }
    }

    static constexpr const char* secret = "SECRET-FROM-FILE";
    std::string m_textPath;
    std::string m_dtdPath;
};

TEST_F(KeyRequestExternalEntity, IsNeverRead)
{
    const std::string text = "file://" + m_textPath;
    const std::string dtd = "file://" + m_dtdPath;
    const std::string passwd = "file:///etc/passwd";
    struct Case
    {
        const char* name;
        std::string request;
        bool loads;
    } cases[] = {
        {"general entity in an attribute",
         "<!DOCTYPE keyrequest [<!ENTITY x SYSTEM \"" + text + "\">]><keyrequest room=\"&x;\"/>",
         false},
        {"system file in an attribute",
         "<!DOCTYPE keyrequest [<!ENTITY x SYSTEM \"" + passwd + "\">]><keyrequest room=\"&x;\"/>",
         false},
        {"system file in content",
         "<!DOCTYPE keyrequest [<!ENTITY x SYSTEM \"" + passwd +
             "\">]><keyrequest room=\"1\">&x;</keyrequest>",
         true},
        {"parameter entity in the internal subset",
         "<!DOCTYPE keyrequest [<!ENTITY % p SYSTEM \"" + dtd +
             "\"> %p;]><keyrequest folio=\"&leak;\"/>",
         false},
        {"external subset", "<!DOCTYPE keyrequest SYSTEM \"" + dtd + "\"><keyrequest folio=\"1\"/>",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(loadsWithoutLeak(c.request), c.loads);
    }
}

TEST(KeyRequestDocument, ConcurrentLoadsKeepTheirOwnResultsAndErrors)
{
    constexpr int threadCount = 4;
    constexpr int rounds = 200;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&wrong, t] {
            for (int i = 0; i < rounds; ++i) {
                const Text room = fromUtf8(std::to_string(t * rounds + i));
                try {
                    if (readKeyRequest(u"<keyrequest room=\"" + room + u"\"/>").room != room) {
                        ++wrong;
                    }
                    readKeyRequest(u"<a></b>");
                    ++wrong;
                } catch (const EDOMParseError& error) {
                    if (std::string(error.what()) !=
                        "Opening and ending tag mismatch: a line 1 and b\r\nLine: 1\r\n<a></b>") {
                        ++wrong;
                    }
                } catch (...) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, 0);
}
