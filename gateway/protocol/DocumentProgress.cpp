#include "gateway/protocol/DocumentProgress.h"

#include "gateway/protocol/XmlLibrary.h"

#include <libxml/parser.h>

#include <climits>
#include <new>
#include <string>

namespace gateway {

namespace {

// As the request reader parses: nothing outside the text is loaded, a declared encoding is
// not applied to characters that are already decoded.
constexpr int parseOptions =
    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC;

// Whether the text is malformed is all that is asked here; the reader reports the error.
void ignoreError(void*, xmlErrorPtr) {}

_xmlParserCtxt* newPushParser()
{
    initXmlLibrary();
    return xmlCreatePushParserCtxt(nullptr, nullptr, nullptr, 0, nullptr);
}

} // namespace

void DocumentProgress::ContextDeleter::operator()(_xmlParserCtxt* context) const
{
    xmlFreeDoc(context->myDoc);
    xmlFreeParserCtxt(context);
}

DocumentProgress::DocumentProgress() : m_context(newPushParser())
{
    if (!m_context) {
        throw std::bad_alloc();
    }
    xmlCtxtUseOptions(m_context.get(), parseOptions);
    m_context->sax->serror = ignoreError;
}

DocumentProgress::~DocumentProgress() = default;

void DocumentProgress::add(TextView piece)
{
    const std::string utf8 = toUtf8(piece);
    if (utf8.size() > static_cast<std::size_t>(INT_MAX)) {
        m_context->wellFormed = 0;
        return;
    }
    // Not the last piece: whatever the parser cannot decide yet, it keeps for the next one.
    xmlParseChunk(m_context.get(), utf8.data(), static_cast<int>(utf8.size()), 0);
}

bool DocumentProgress::endsInsideDocument() const
{
    if (!m_context->wellFormed) {
        return false;
    }
    // The parser moves on to the epilog once the document element has closed.
    return m_context->instate != XML_PARSER_EPILOG && m_context->instate != XML_PARSER_EOF;
}

} // namespace gateway
