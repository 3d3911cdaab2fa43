#include "gateway/protocol/KeyAnswer.h"

#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>

using namespace gateway;

namespace {

const Text successAnswer =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?> <keyanswer res-code=\"0\" text=\"\"/>";

Text failureAnswer(TextView escapedCode)
{
    return u"<?xml version=\"1.0\" encoding=\"UTF-8\"?> <keyanswer res-code=\"1\" text=\"" +
           Text(escapedCode) + u"\"/>";
}

struct DocumentDeleter
{
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
struct XmlCharDeleter
{
    void operator()(xmlChar* text) const { xmlFree(text); }
};

Text attributeOf(xmlNode* element, const char* name)
{
    std::unique_ptr<xmlChar, XmlCharDeleter> value(
        xmlGetProp(element, reinterpret_cast<const xmlChar*>(name)));
    if (!value) {
        return u"(missing)";
    }
    return fromUtf8(reinterpret_cast<const char*>(value.get()));
}

} // namespace

TEST(KeyAnswer, SuccessOnlyForExactlyTheTwoSuccessCodes)
{
    struct Case
    {
        Text code;
        Text answer;
    } cases[] = {
        {u"001", successAnswer},           {u"002", successAnswer},
        {u"000", failureAnswer(u"000")},   {u"003", failureAnswer(u"003")},
        {u"01", failureAnswer(u"01")},     {u"1", failureAnswer(u"1")},
        {u"", failureAnswer(u"")},         {u" 01", failureAnswer(u" 01")},
        {u"0010", failureAnswer(u"0010")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.code));
        EXPECT_EQ(makeKeyAnswer(c.code), c.answer);
    }
}

TEST(KeyAnswer, ExactTextsAndLengths)
{
    EXPECT_EQ(makeKeyAnswer(u"001").size(), 72u);
    EXPECT_EQ(makeKeyAnswer(u"").size(), 72u);
    EXPECT_EQ(
        makeKeyAnswer(u"003"),
        u"<?xml version=\"1.0\" encoding=\"UTF-8\"?> <keyanswer res-code=\"1\" text=\"003\"/>");
    EXPECT_EQ(makeKeyAnswer(u"003").size(), 75u);
}

TEST(KeyAnswer, EscapesTheCodeSoTheAnswerStaysOneWellFormedLine)
{
    struct Case
    {
        Text code;
        Text escaped;
    } cases[] = {
        {u"&", u"&amp;"},
        {u"<>", u"&lt;&gt;"},
        {u"\"", u"&quot;"},
        {u"a&<", u"a&amp;&lt;"},
        {u"'", u"'"},
        {u"\r\n\t", u"&#13;&#10;&#9;"},
        {u"0\x02"
         u"1",
         u"0\uFFFD1"},
        {Text(u"\0", 1), u"\uFFFD"},
        {u"\uFFFD\u00e9", u"\uFFFD\u00e9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.code));
        EXPECT_EQ(makeKeyAnswer(c.code), failureAnswer(c.escaped));
    }
}

TEST(KeyAnswer, AnswerAlwaysParsesAndCarriesTheCode)
{
    struct Case
    {
        Text code;
        Text resCode;
        Text text;
    } cases[] = {
        {u"001", u"0", u""},
        {u"002", u"0", u""},
        {u"", u"1", u""},
        {u"003", u"1", u"003"},
        {u"<&\"", u"1", u"<&\""},
        {u"\r\n ", u"1", u"\r\n "},
        {u"\x01\x1f"
         u"9",
         u"1", u"\uFFFD\uFFFD9"},
        {u"\uFFFD\uFFFD\uFFFD", u"1", u"\uFFFD\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.code));
        const Text answer = makeKeyAnswer(c.code);
        EXPECT_EQ(answer.find_first_of(u"\r\n"), Text::npos);
        const std::string bytes = toUtf8(answer);
        std::unique_ptr<xmlDoc, DocumentDeleter> document(
            xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
        ASSERT_TRUE(document);
        xmlNode* root = xmlDocGetRootElement(document.get());
        ASSERT_NE(root, nullptr);
        EXPECT_STREQ(reinterpret_cast<const char*>(root->name), "keyanswer");
        EXPECT_EQ(attributeOf(root, "res-code"), c.resCode);
        EXPECT_EQ(attributeOf(root, "text"), c.text);
    }
}
