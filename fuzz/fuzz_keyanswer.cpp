// Reply text to result code to key answer: whatever the lock system sends, the answer is one
// line that parses as XML, with the res-code the code calls for and, in a failure answer, the
// code itself as the text attribute (characters XML cannot carry replaced by U+FFFD).

#include "FuzzCheck.h"
#include "gateway/base/LineEncoding.h"
#include "gateway/protocol/KeyAnswer.h"
#include "gateway/protocol/ResultCode.h"
#include "gateway/protocol/XmlLibrary.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

using namespace gateway;

struct DocumentDeleter
{
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
struct XmlCharDeleter
{
    void operator()(xmlChar* text) const { xmlFree(text); }
};

std::string attribute(xmlNode* element, const char* name)
{
    std::unique_ptr<xmlChar, XmlCharDeleter> value(
        xmlGetProp(element, reinterpret_cast<const xmlChar*>(name)));
    FUZZ_CHECK(value != nullptr);
    return reinterpret_cast<const char*>(value.get());
}

bool isSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDFFF;
}

// The code as the answer's reader must see it.
Text expectedText(TextView code)
{
    Text text;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char16_t c = code[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < code.size() && code[i + 1] >= 0xDC00 &&
            code[i + 1] <= 0xDFFF) {
            text += code.substr(i++, 2);
        } else if ((c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE ||
                   c == 0xFFFF || isSurrogate(c)) {
            text += char16_t(0xFFFD);
        } else {
            text += c;
        }
    }
    return text;
}

void checkAnswer(TextView code)
{
    const std::string answer = toUtf8(makeKeyAnswer(code));
    FUZZ_CHECK(answer.find_first_of("\r\n") == std::string::npos);
    std::unique_ptr<xmlDoc, DocumentDeleter> document(
        xmlReadMemory(answer.data(), static_cast<int>(answer.size()), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    FUZZ_CHECK(document != nullptr);
    xmlNode* root = xmlDocGetRootElement(document.get());
    FUZZ_CHECK(root != nullptr &&
               std::strcmp(reinterpret_cast<const char*>(root->name), "keyanswer") == 0);
    const bool success = isSuccessCode(code);
    FUZZ_CHECK(attribute(root, "res-code") == (success ? "0" : "1"));
    FUZZ_CHECK(attribute(root, "text") == (success ? "" : toUtf8(expectedText(code))));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    initXmlLibrary();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The gateway's own road: reply bytes as taken off the link, then the code in them.
    const Text code = resultCode(decodeBytes(bytes));
    FUZZ_CHECK(code.size() == (size <= 12 ? 0 : std::min<std::size_t>(size - 12, 3)));
    checkAnswer(code);

    // Any text at all as the code, lone surrogates included: pairs of bytes as code units.
    Text units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
    checkAnswer(units);
    return 0;
}
