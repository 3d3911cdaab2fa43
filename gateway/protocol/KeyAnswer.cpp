#include "gateway/protocol/KeyAnswer.h"

#include "gateway/protocol/ResultCode.h"

namespace gateway {

namespace {

constexpr TextView successAnswer =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?> <keyanswer res-code=\"0\" text=\"\"/>";
constexpr TextView failureHead =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?> <keyanswer res-code=\"1\" text=\"";
constexpr TextView failureTail = u"\"/>";

// The code comes from the lock system's reply and may hold anything a byte can: markup
// characters are escaped, line breaks and tabs become character references so the answer
// stays one line and keeps the value, and characters XML 1.0 forbids outright become U+FFFD.
void appendAttributeValue(Text& out, TextView value)
{
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char16_t c = value[i];
        switch (c) {
        case u'&':
            out += u"&amp;";
            continue;
        case u'<':
            out += u"&lt;";
            continue;
        case u'>':
            out += u"&gt;";
            continue;
        case u'"':
            out += u"&quot;";
            continue;
        case u'\t':
            out += u"&#9;";
            continue;
        case u'\n':
            out += u"&#10;";
            continue;
        case u'\r':
            out += u"&#13;";
            continue;
        default:
            break;
        }
        if (isHighSurrogate(c) && i + 1 < value.size() && isLowSurrogate(value[i + 1])) {
            out += value.substr(i, 2);
            ++i;
        } else if (c < 0x20 || c == 0xFFFE || c == 0xFFFF || isHighSurrogate(c) ||
                   isLowSurrogate(c)) {
            out += replacementCharacter;
        } else {
            out += c;
        }
    }
}

} // namespace

Text makeKeyAnswer(TextView resultCode)
{
    if (isSuccessCode(resultCode)) {
        return Text(successAnswer);
    }
    Text answer(failureHead);
    appendAttributeValue(answer, resultCode);
    answer += failureTail;
    return answer;
}

} // namespace gateway
