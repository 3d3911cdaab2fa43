#include "gateway/ReadableText.h"

#include "gateway/Errors.h"

namespace gateway {

namespace {

bool isControl(unsigned code)
{
    return code < 0x20 || code == 0x7F;
}

void appendReadable(std::string& text, unsigned char byte)
{
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    switch (byte) {
    case 0x02:
        text += "<STX>";
        return;
    case 0x03:
        text += "<ETX>";
        return;
    case 0x04:
        text += "<EOT>";
        return;
    case 0x0D:
        text += "<CR>";
        return;
    case 0x0A:
        text += "<LF>";
        return;
    default:
        text += "<0x";
        text += hexDigits[byte >> 4];
        text += hexDigits[byte & 0x0F];
        text += '>';
    }
}

} // namespace

std::string readableBytes(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size() + 16);
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        if (isControl(byte) || byte > 0x7E) {
            appendReadable(text, byte);
        } else {
            text += c;
        }
    }
    return text;
}

std::string oneLine(std::string_view message)
{
    std::string line;
    line.reserve(message.size());
    for (char c : message) {
        if (c != '\r') {
            line += c == '\n' ? ' ' : c;
        }
    }
    return line;
}

std::string describeFailure(const std::exception& failure)
{
    const auto* known = dynamic_cast<const Exception*>(&failure);
    return std::string(known ? known->className() : "error") + ": " + oneLine(failure.what());
}

std::string readableText(TextView text)
{
    std::string readable;
    readable.reserve(text.size() + 16);
    std::size_t plainFrom = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isControl(text[i])) {
            readable += toUtf8(text.substr(plainFrom, i - plainFrom));
            appendReadable(readable, static_cast<unsigned char>(text[i]));
            plainFrom = i + 1;
        }
    }
    readable += toUtf8(text.substr(plainFrom));
    return readable;
}

} // namespace gateway
