#include "gateway/protocol/KeyRequestDocument.h"

#include "gateway/base/Errors.h"
#include "gateway/protocol/XmlLibrary.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <new>
#include <string>
#include <string_view>

namespace gateway {

namespace {

constexpr std::size_t encodingSearchLength = 50;
constexpr std::size_t sourceExcerptLength = 40;
constexpr std::u16string_view encodingWord = u"encoding";
constexpr std::u16string_view quoteCharacters = u"\"'";
constexpr char16_t byteOrderMark = 0xFEFF;

// The characters are parsed as they stand: a declared encoding must not make the parser
// decode them again, and nothing outside the text is ever loaded.
constexpr int parseOptions =
    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC;

// Entity references stay in the tree and are expanded when a value is read. The parser bounds
// nested expansion but not a large entity repeated many times in one value, so the expansion is
// capped here: counted are the characters that come from replacement text plus one per reference.
constexpr std::size_t entityExpansionBudget = std::size_t(1) << 20;
constexpr int entityNestingLimit = 40;
constexpr std::string_view amplificationError = "Maximum entity amplification factor exceeded";

constexpr std::string_view keyRequestName = "keyrequest";

struct ParserContextDeleter
{
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};
struct DocumentDeleter
{
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
using ParserContext = std::unique_ptr<xmlParserCtxt, ParserContextDeleter>;
using Document = std::unique_ptr<xmlDoc, DocumentDeleter>;

bool equalsIgnoringCase(TextView a, TextView b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiUpper(a[i]) != asciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

bool namesSixteenBitEncoding(TextView value)
{
    return equalsIgnoringCase(value, u"UTF-16") || equalsIgnoringCase(value, u"UCS-2") ||
           equalsIgnoringCase(value, u"UNICODE");
}

void removeEncodingDeclaration(Text& text)
{
    const TextView head = TextView(text).substr(0, encodingSearchLength);
    const std::size_t word = head.find(encodingWord);
    if (word == TextView::npos) {
        return;
    }
    const std::size_t open = head.find_first_of(quoteCharacters, word + encodingWord.size());
    if (open == TextView::npos) {
        return;
    }
    const std::size_t close = head.find_first_of(quoteCharacters, open + 1);
    if (close == TextView::npos) {
        return;
    }
    if (namesSixteenBitEncoding(head.substr(open + 1, close - open - 1))) {
        return;
    }
    // Only a space goes with the word: a line break stays so that error line numbers still
    // match the text as sent.
    const std::size_t start = word > 0 && text[word - 1] == u' ' ? word - 1 : word;
    text.erase(start, close + 1 - start);
}

// Lines are counted at line feeds, as the parser counts them.
Text sourceLine(TextView text, long lineNumber)
{
    if (lineNumber < 1) {
        return {};
    }
    std::size_t start = 0;
    for (long line = 1; line < lineNumber; ++line) {
        const std::size_t feed = text.find(u'\n', start);
        if (feed == TextView::npos) {
            return {};
        }
        start = feed + 1;
    }
    TextView line = text.substr(start);
    line = line.substr(0, line.find(u'\n'));
    if (!line.empty() && line.back() == u'\r') {
        line.remove_suffix(1);
    }
    return Text(line.substr(0, sourceExcerptLength));
}

[[noreturn]] void throwParseError(std::string_view kind, long lineNumber, TextView text)
{
    std::string message(kind);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    message +=
        "\r\nLine: " + std::to_string(lineNumber) + "\r\n" + toUtf8(sourceLine(text, lineNumber));
    throw EDOMParseError(message);
}

struct FirstError
{
    bool found = false;
    std::string message;
    long line = 0;
};

// Runs on the parsing thread with that parse's own context, so no state is shared.
void recordFirstError(void* userData, xmlErrorPtr error)
{
    auto* context = static_cast<xmlParserCtxtPtr>(userData);
    auto* first = context != nullptr ? static_cast<FirstError*>(context->_private) : nullptr;
    if (first == nullptr || first->found || error == nullptr) {
        return;
    }
    // Only XML 1.0 well-formedness counts: namespace errors leave the document usable and
    // warnings do not stop the parser.
    if (error->level < XML_ERR_ERROR || error->domain == XML_FROM_NAMESPACE) {
        return;
    }
    first->found = true;
    first->message = error->message != nullptr ? error->message : "";
    first->line = error->line;
}

Document parseRequest(TextView text)
{
    const std::string utf8 = toUtf8(text);
    if (utf8.size() > static_cast<std::size_t>(INT_MAX)) {
        throwParseError("Document is too large", 1, text);
    }
    FirstError first;
    ParserContext context(xmlNewParserCtxt());
    if (!context) {
        throw std::bad_alloc();
    }
    context->_private = &first;
    context->sax->serror = recordFirstError;
    Document document(xmlCtxtReadMemory(context.get(), utf8.data(), static_cast<int>(utf8.size()),
                                        nullptr, "UTF-8", parseOptions));
    if (!document || !context->wellFormed) {
        if (!first.found) {
            const xmlError& last = context->lastError;
            first.message = last.message != nullptr ? last.message : "Unknown error";
            first.line = last.line;
        }
        throwParseError(first.message, first.line, text);
    }
    // The parser takes U+0000 after the document element for the end of the input, which would
    // let a NUL hide whatever follows it.
    if (const std::size_t nul = text.find(u'\0'); nul != TextView::npos) {
        const TextView before = text.substr(0, nul);
        const long line = 1 + static_cast<long>(std::count(before.begin(), before.end(), u'\n'));
        throwParseError("Char 0x0 out of allowed range", line, text);
    }
    return document;
}

std::string_view toView(const xmlChar* text)
{
    return text != nullptr ? std::string_view(reinterpret_cast<const char*>(text)) : "";
}

// A node matches by its qualified name or by its local name, exactly.
bool nameMatches(const xmlNs* ns, const xmlChar* nodeName, std::string_view wanted)
{
    const std::string_view name = toView(nodeName);
    if (name == wanted) {
        return true;
    }
    if (ns != nullptr && ns->prefix != nullptr) {
        const std::string_view prefix = toView(ns->prefix);
        return wanted.size() == prefix.size() + 1 + name.size() && wanted.starts_with(prefix) &&
               wanted[prefix.size()] == ':' && wanted.ends_with(name);
    }
    // An undeclared prefix stays part of the stored name.
    const std::size_t colon = name.find(':');
    return colon != std::string_view::npos && name.substr(colon + 1) == wanted;
}

xmlNode* findKeyRequest(xmlDoc* document)
{
    for (xmlNode* node = document->children; node != nullptr; node = node->next) {
        if (node->type == XML_ELEMENT_NODE && nameMatches(node->ns, node->name, keyRequestName)) {
            return node;
        }
    }
    return nullptr;
}

class ValueReader
{
public:
    ValueReader(xmlDoc* document, xmlNode* element, TextView text)
        : m_document(document), m_element(element), m_text(text)
    {
    }

    Text read(std::string_view name)
    {
        for (xmlAttr* attribute = m_element->properties; attribute != nullptr;
             attribute = attribute->next) {
            if (nameMatches(attribute->ns, attribute->name, name)) {
                std::string value;
                append(attribute->children, value, 0);
                return fromUtf8(value);
            }
        }
        return {};
    }

private:
    void append(const xmlNode* nodes, std::string& value, int depth)
    {
        for (const xmlNode* node = nodes; node != nullptr; node = node->next) {
            if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
                const std::string_view content = toView(node->content);
                if (depth > 0) {
                    spend(content.size());
                }
                value += content;
            } else if (node->type == XML_ENTITY_REF_NODE) {
                spend(1);
                if (depth >= entityNestingLimit) {
                    fail();
                }
                const xmlEntity* entity = xmlGetDocEntity(m_document, node->name);
                if (entity != nullptr && entity->children != nullptr) {
                    append(entity->children, value, depth + 1);
                } else {
                    const std::string_view content = toView(node->content);
                    spend(content.size());
                    value += content;
                }
            }
        }
    }

    void spend(std::size_t amount)
    {
        if (amount > m_budget) {
            fail();
        }
        m_budget -= amount;
    }

    [[noreturn]] void fail()
    {
        throwParseError(amplificationError, xmlGetLineNo(m_element), m_text);
    }

    xmlDoc* m_document;
    xmlNode* m_element;
    TextView m_text;
    std::size_t m_budget = entityExpansionBudget;
};

} // namespace

Text prepareRequestText(TextView requestText)
{
    Text text(requestText);
    removeEncodingDeclaration(text);
    if (!text.empty() && text.front() == byteOrderMark) {
        text.erase(0, 1);
    }
    return text;
}

KeyRequestValues readKeyRequest(TextView requestText)
{
    initXmlLibrary();
    const Text text = prepareRequestText(requestText);
    const Document document = parseRequest(text);
    xmlNode* element = findKeyRequest(document.get());
    if (element == nullptr) {
        throw EXMLDocError("Node \"" + std::string(keyRequestName) + "\" not found");
    }
    ValueReader reader(document.get(), element, text);
    KeyRequestValues values;
    values.room = reader.read("room");
    values.folio = reader.read("folio");
    values.encoder = reader.read("encoder");
    values.keyCount = reader.read("key-count");
    values.keyType = reader.read("key-type");
    values.fromDateTime = reader.read("from-date-time");
    values.toDateTime = reader.read("to-date-time");
    return values;
}

} // namespace gateway
